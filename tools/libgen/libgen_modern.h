// Writes libraries in the schema of current versions of the reference manager (5.0 on):
// as a fresh install numbers its types and fields, or as one upgraded from a classic library.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "libgen.h"

namespace libgen {

enum class Numbering {
    fresh,     // as a fresh current install: types and fields in the schema's order
    upgraded,  // as upgraded from a classic library: classic numbers kept, new ones after
};

// Annotation kinds as the reference manager numbers them.
enum class AnnotationType { highlight = 1, note = 2, image = 3, ink = 4, underline = 5, text = 6 };

struct ModernOptions {
    Numbering numbering = Numbering::fresh;
    bool wal = true;  // current versions keep their library in WAL mode
    std::uint32_t seed = 1;
    std::time_t now = std::time(nullptr);
};

// Creates the tables, indexes and type/field rows of a current library in an empty database.
void create_modern_schema(sqlite3* db, Numbering numbering);

// Writes a modern library into dir/zotero.sqlite (replacing an existing file) and dir/storage/.
// Item types and field ids given through the LibraryBuilder interface are the classic
// numbers (libgen::item_type, libgen::field); the builder stores its own
// numbering. A title given for a type without a title field (case, statute, e-mail) goes
// to the field mapped onto title (caseName, nameOfAct, subject), as the reference manager
// stores it. Rows go into the current library: the user's library (1) until use_library().
// Failures throw std::runtime_error.
class ModernLibraryBuilder final : public detail::WriterCore {
  public:
    explicit ModernLibraryBuilder(const std::string& dir, ModernOptions options = {});

    int add_note(int parent, const std::string& html, const std::string& date_added = "") override;
    AddedAttachment add_attachment(const Attachment& attachment) override;
    int add_collection(const std::string& name, int parent = 0) override;
    // Tags are unique by name; the type belongs to each use. tag_item(item, tag) uses
    // the type of the last add_tag() call that returned this tag.
    int add_tag(const std::string& name, int type = tag_manual) override;
    void tag_item(int item_id, int tag_id) override;
    void tag_item(int item_id, int tag_id, int type);

    // A group library; returns its libraryID.
    int add_group(const std::string& name);
    // A feed (a library of its own); returns its libraryID.
    int add_feed(const std::string& name, const std::string& url);
    // Later items, notes, attachments and collections go into this library.
    void use_library(int library_id);
    void trash_collection(int collection_id);
    // An annotation on an attachment; returns its itemID.
    int add_annotation(int attachment_id, const std::string& text,
                       AnnotationType type = AnnotationType::highlight);

    // Commits what was added and merges the log into the library file; rows added
    // after it stay in the log until finish(). WAL mode only.
    void checkpoint();
    // Commits and closes without merging the log: the -wal file stays beside the
    // library, as after a crash of the reference manager. WAL mode only.
    void finish_leaving_log() { close(false); }

    // This library's numbers for the named item type and field.
    int type_id(const std::string& name) const;
    int field_id(const std::string& name) const;
    Numbering numbering() const { return options_.numbering; }

  private:
    int insert_item(int type, const std::string& date_added) override;
    int insert_named_item(const std::string& type_name, const std::string& date_added);
    int creator_id(const Creator& c, const std::string& date) override;
    int stored_field(int item_id, int classic_field) override;

    ModernOptions options_;
    std::map<std::string, int> type_ids_, field_ids_;
    std::map<int, std::string> item_types_;  // itemID to type name
    std::map<std::string, int> tags_;        // by name, ignoring case
    std::map<int, int> tag_last_type_;       // tagID to the type of its last add_tag()
    std::set<int> feeds_;
    int library_ = 1;
    int next_library_ = 2;
    int feed_guid_ = 0;
};

}  // namespace libgen
