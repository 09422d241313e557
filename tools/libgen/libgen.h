// Writes Zotero libraries for tests, demos and benchmarks: a builder that adds exactly
// the rows a caller asks for and hands back their ids, plus the demo and synthetic libraries.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "ry_raii.h"

namespace libgen {

// Field numbers of the reference manager.
namespace field {
constexpr int url = 1;
constexpr int date = 14;
constexpr int title = 110;
constexpr int caseName = 111;
constexpr int nameOfAct = 112;
constexpr int subject = 113;
}  // namespace field

// Item type numbers of the reference manager.
namespace item_type {
constexpr int note = 1;
constexpr int book = 2;
constexpr int bookSection = 3;
constexpr int journalArticle = 4;
constexpr int webpage = 13;
constexpr int attachment = 14;
constexpr int legal_case = 17;  // "case"
constexpr int statute = 20;
constexpr int email = 21;
constexpr int conferencePaper = 33;
constexpr int document = 34;
}  // namespace item_type

enum class LinkMode { imported_file = 0, imported_url = 1, linked_file = 2, linked_url = 3 };

enum TagType { tag_manual = 0, tag_automatic = 1 };

struct Creator {
    std::string first{};
    std::string last{};
    int field_mode = 0;    // 1: a single-field name (an institution), kept in last
    int creator_type = 1;  // 1 author
};
// An institution as the reference manager keeps it: one field, empty first name.
inline Creator institution(const std::string& name) { return {"", name, 1}; }

// Every member has a default, so a caller names only what it needs:
// add_item({.type = item_type::book, .title = "Atlas", .creators = {{"Ann", "Lee"}}}).
struct Item {
    int type = item_type::book;
    std::optional<std::string> title{};  // no value: the item gets no title field at all
    std::vector<Creator> creators{};     // in order
    std::string date_added{};            // "YYYY-MM-DD HH:MM:SS" UTC; empty: the builder's clock
};

struct Attachment {
    int parent = 0;  // 0: a standalone attachment
    LinkMode link_mode = LinkMode::imported_file;
    std::optional<std::string> mime_type{};
    // Stored (imported) kinds: the file name under storage/<key>/; linked file: the
    // absolute path or "attachments:" and a path under the library; linked URL: unused. Empty for a stored
    // kind: no path at all.
    std::string file{};
    std::string contents{};  // written to the stored file (or to the linked path, when given)
    std::string title{};     // the attachment item's own title field; empty: none
    std::string url{};       // for imported and linked URLs
    std::string date_added{};
};

struct AddedAttachment {
    int item_id = 0;
    std::string key;
    std::optional<std::string> path;  // the path column as written
    std::string file_on_disk;         // where the contents went; empty when none was written
};

// Time stamps as the reference manager writes them: "YYYY-MM-DD HH:MM:SS", UTC.
std::string utc_timestamp(std::time_t t);

// The calls every library writer offers. Demo and synthetic libraries are written
// through this interface, so a writer for a later schema only has to implement it.
class LibraryBuilder {
  public:
    virtual ~LibraryBuilder() = default;
    // Returns the new itemID. A case, statute or e-mail keeps its title in its own field
    // (caseName, nameOfAct, subject), as the reference manager stores it.
    virtual int add_item(const Item& item) = 0;
    // Sets (or replaces) one field of an item; an integer-looking text is stored as an integer.
    virtual void set_field(int item_id, int field_id, const std::string& value) = 0;
    // A child note (parent 0: standalone); returns the note's itemID.
    virtual int add_note(int parent, const std::string& html, const std::string& date_added = "") = 0;
    // Stored kinds write their file to storage/<key>/<file>.
    virtual AddedAttachment add_attachment(const Attachment& attachment) = 0;
    // parent 0: a top-level collection.
    virtual int add_collection(const std::string& name, int parent = 0) = 0;
    virtual void add_to_collection(int collection_id, int item_id) = 0;
    // Returns the tagID; a name already present with that type (ignoring case) gives the same id.
    virtual int add_tag(const std::string& name, int type = tag_manual) = 0;
    virtual void tag_item(int item_id, int tag_id) = 0;
    virtual void trash(int item_id) = 0;
    virtual const std::string& key_of(int item_id) const = 0;
    // Commits and closes the database; further calls are errors. Idempotent.
    virtual void finish() = 0;
    virtual const std::string& directory() const = 0;
    std::string database_path() const { return directory() + "/zotero.sqlite"; }
    std::string storage_path(const std::string& key) const { return directory() + "/storage/" + key; }
};

namespace detail {

// The writers' prepared statements by text: each compiled once, then reset and
// cleared for every reuse.
class StatementCache {
  public:
    sqlite3_stmt* get(sqlite3* db, const char* sql);
    void clear() { stmts_.clear(); }

  private:
    std::map<std::string, ry::unique_stmt> stmts_;
};

// What both library generations write alike: the database file, opened afresh and
// filled in one transaction; keys, dates and values; items with their title and
// creators; collection members and the trash. A writer adds its schema's own tables.
class WriterCore : public LibraryBuilder {
  public:
    ~WriterCore() override;
    WriterCore(const WriterCore&) = delete;
    WriterCore& operator=(const WriterCore&) = delete;

    int add_item(const Item& item) override;
    void set_field(int item_id, int field_id, const std::string& value) override;
    void add_to_collection(int collection_id, int item_id) override;
    void trash(int item_id) override;
    const std::string& key_of(int item_id) const override;
    void finish() override { close(true); }
    const std::string& directory() const override { return dir_; }

  protected:
    // wal: the library in WAL mode, with nothing merged into the file before finish().
    WriterCore(const std::string& dir, std::uint32_t seed, std::time_t now, bool wal);

    sqlite3* db() const { return db_.get(); }
    sqlite3_stmt* stmt(const char* sql);
    void exec(const char* sql);
    // Runs a bound write statement to completion.
    void step(sqlite3_stmt* s);
    int last_id() const { return int(sqlite3_last_insert_rowid(db_.get())); }
    std::string new_key();
    std::string stamp(const std::string& given) const;
    // The items row of a new item of the classic type number, its key remembered.
    virtual int insert_item(int type, const std::string& date_added) = 0;
    // The creator's id, made on first use of that name.
    virtual int creator_id(const Creator& c, const std::string& date) = 0;
    // This schema's field id for a classic field number given for item_id.
    virtual int stored_field(int /*item_id*/, int classic_field) { return classic_field; }
    void remember_key(int item_id, const std::string& key) { item_keys_[item_id] = key; }
    // The id cached under lookup in cache, or the one make() returns, then cached.
    template <class Make>
    static int cached(std::map<std::string, int>& cache, const std::string& lookup, Make make) {
        auto found = cache.find(lookup);
        if (found != cache.end()) return found->second;
        return cache[lookup] = make();
    }
    // The id of the creator of this name, made by make() on its first use.
    template <class Make>
    int cached_creator(const Creator& c, Make make) {
        return cached(creators_, std::to_string(c.field_mode) + '\n' + c.last + '\n' + c.first, make);
    }
    // The attachment item with its title and URL fields and its file; the writer adds
    // the attachment row.
    AddedAttachment begin_attachment(const Attachment& a);
    // Commits and closes; merge_log false leaves the -wal file beside the library.
    void close(bool merge_log);
    bool wal() const { return wal_; }
    bool finished() const { return finished_; }

  private:
    int value_id(const std::string& value);

    std::string dir_;
    std::time_t now_;
    bool wal_;
    std::mt19937 rng_;
    ry::unique_db db_;
    StatementCache stmts_;
    std::unordered_set<std::string> keys_;
    std::map<int, std::string> item_keys_;
    std::map<std::string, int> values_;
    std::map<std::string, int> creators_;  // by field mode, last and first name
    std::map<int, int> collection_order_;  // next orderIndex per collection
    bool finished_ = false;
};

}  // namespace detail

// Creates the tables, indexes and type/field rows of the classic (2.x, userdata 76)
// schema in an empty database.
void create_classic_schema(sqlite3* db);

// Writes a classic library into dir/zotero.sqlite (replacing an existing file) and
// dir/storage/. All rows go in one transaction, committed by finish() (or by the
// destructor, which swallows errors). Failures throw std::runtime_error.
class ClassicLibraryBuilder final : public detail::WriterCore {
  public:
    // now: the clock for rows given no date; seed: for the keys.
    explicit ClassicLibraryBuilder(const std::string& dir, std::uint32_t seed = 1,
                                   std::time_t now = std::time(nullptr));

    int add_note(int parent, const std::string& html, const std::string& date_added = "") override;
    AddedAttachment add_attachment(const Attachment& attachment) override;
    int add_collection(const std::string& name, int parent = 0) override;
    int add_tag(const std::string& name, int type = tag_manual) override;
    void tag_item(int item_id, int tag_id) override;

  private:
    int insert_item(int type, const std::string& date_added) override;
    int creator_id(const Creator& c, const std::string& date) override;

    std::map<std::string, int> tags_;  // by type and lower-case name
};

// What the demo library holds, for callers that check it.
struct DemoSummary {
    int regular_items = 0;  // neither note nor attachment
    int notes = 0;
    int attachments = 0;
    int collections = 0;
    int tags = 0;
};

// About a hundred invented items of every kind the program meets, dated over the
// twelve months up to now.
DemoSummary write_demo_library(LibraryBuilder& b, std::time_t now);

struct SyntheticOptions {
    int items = 20000;
    int tags = 2000;
    int collections = 200;
    std::uint32_t seed = 1;
};
// A large library with realistic proportions, added over the five years up to now; the
// same options and the same now give the same rows and keys.
void write_synthetic_library(LibraryBuilder& b, const SyntheticOptions& options, std::time_t now);

}  // namespace libgen
