// Property test of the history file: random bytes and random key files go through
// load, a few recorded items and save; the queue keeps its bounded length, the saved
// file loads again with the same ids, and what the user wrote besides survives.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "recent_test_support.h"
#include "ry_recent.h"
#include "test_support.h"

using ryt::History;
using ryt::ids;

namespace {

constexpr int n_cases = 2000;
constexpr gint64 time_budget_us = 60 * G_USEC_PER_SEC;

const GKeyFileFlags keep_flags = GKeyFileFlags(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);

// A generated file and what loading it must give.
struct Sample {
    std::string text;
    int slots = 0;
    std::vector<int> queue;                  // the loaded queue, head first
    std::optional<std::string> max_history;  // the raw value that must survive a save
    std::vector<std::string> kept_lines;     // comments and keys that must survive
};

class Generator {
  public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(int percent) { return uniform(1, 100) <= percent; }

    // Bytes, biased towards the characters a key file is made of.
    std::string random_bytes() {
        static const char syntax[] = "[]=;#\n -0123456789HISTORYmax_historyitems";
        std::string s;
        int n = uniform(0, 600);
        for (int i = 0; i < n; ++i)
            s += chance(60) ? syntax[uniform(0, int(sizeof syntax) - 2)] : char(uniform(0, 255));
        if (chance(30)) s = "[HISTORY]\n" + s;
        return s;
    }

    Sample random_key_file(int index) {
        Sample s;
        bool any_group = false;
        if (chance(50)) add_kept(s, "# keep " + std::to_string(index));
        if (chance(30)) {
            s.text += "[Before]\n";
            add_kept(s, "colour=grey");
            any_group = true;
        }
        std::optional<int> max;
        std::vector<std::string> tokens;
        bool items_valid = true;
        if (chance(90)) {
            any_group = true;
            s.text += "[HISTORY]\n";
            if (chance(40)) add_kept(s, "# slot note " + std::to_string(index));
            if (chance(90)) {
                std::string value;
                switch (uniform(0, 9)) {
                    case 0:
                        value = "2147483647";
                        break;
                    case 1:
                        value = "-2147483648";
                        break;
                    case 2:
                        value = "lots";
                        break;
                    case 3:
                        value = "";
                        break;
                    case 4:
                        value = "12x";
                        break;
                    default:
                        value = std::to_string(uniform(-50, 400));
                }
                s.text += "max_history=" + value + "\n";
                s.max_history = value;
                gchar* end = nullptr;
                gint64 v = g_ascii_strtoll(value.c_str(), &end, 10);
                if (!value.empty() && *end == '\0') max = int(v);
            }
            if (chance(90)) {
                int n = chance(5) ? uniform(0, 5000) : uniform(0, 40);
                std::string line = "items=";
                for (int i = 0; i < n; ++i) {
                    std::string t;
                    if (chance(1)) {
                        static const char* const junk[] = {"x", "2.5", "99999999999", "--1"};
                        t = junk[uniform(0, 3)];
                        items_valid = false;
                    } else {
                        t = std::to_string(chance(30) ? -1 : uniform(1, 1000000));
                    }
                    tokens.push_back(t);
                    line += t + ";";
                }
                s.text += line + "\n";
            }
            if (chance(30)) add_kept(s, "note=mine");
        }
        if (chance(30)) {
            s.text += "\n[Display]\n";
            add_kept(s, "name[de]=Zuletzt");
            any_group = true;
        }

        if (!any_group) {
            s.slots = 10;
            s.queue.assign(10, -1);
            s.max_history = "10";
            return s;
        }
        s.slots = max ? std::clamp(*max, 0, RY_MAX_HISTORY_SLOTS) : 0;
        for (int i = 0; i < s.slots; ++i)
            s.queue.push_back(items_valid && size_t(i) < tokens.size() ? std::stoi(tokens[i]) : -1);
        return s;
    }

  private:
    void add_kept(Sample& s, const std::string& line) {
        s.text += line + "\n";
        s.kept_lines.push_back(line);
    }

    std::mt19937 rng_;
};

// What GLib itself makes of arbitrary bytes: the slots and the raw max_history to keep.
void expect_from_glib(const std::string& bytes, int* slots, std::optional<std::string>* max_history) {
    ry::key_file_ptr kf(g_key_file_new());
    gsize n_groups = 0;
    if (g_key_file_load_from_data(kf.get(), bytes.data(), bytes.size(), keep_flags, nullptr))
        g_strfreev(g_key_file_get_groups(kf.get(), &n_groups));
    if (n_groups == 0) {
        *slots = 10;
        *max_history = "10";
        return;
    }
    GError* error = nullptr;
    int v = g_key_file_get_integer(kf.get(), "HISTORY", "max_history", &error);
    *slots = error ? 0 : std::clamp(v, 0, RY_MAX_HISTORY_SLOTS);
    if (error) g_error_free(error);
    ry::gchar_ptr raw(g_key_file_get_value(kf.get(), "HISTORY", "max_history", nullptr));
    if (raw) *max_history = raw.get();
}

class RecentFuzz : public ::testing::Test {
  protected:
    void SetUp() override { ryt::log_messages = 0; }
    void TearDown() override { EXPECT_EQ(ryt::log_messages.load(), 0) << "GLib logged a message"; }
};

TEST_F(RecentFuzz, LoadRecordSaveKeepsQueueFileAndUserText) {
    Generator gen(20240607);
    ryt::TempDir dir;
    const std::string path = dir.file("ryx.history");
    gint64 deadline = g_get_monotonic_time() + time_budget_us;
    int done = 0;

    for (int index = 0; index < n_cases && g_get_monotonic_time() < deadline; ++index, ++done) {
        SCOPED_TRACE("case " + std::to_string(index));
        Sample s;
        bool from_bytes = index % 2 == 0;
        if (from_bytes) {
            s.text = gen.random_bytes();
            expect_from_glib(s.text, &s.slots, &s.max_history);
        } else {
            s = gen.random_key_file(index);
        }
        ryt::write_file(path, s.text);

        History h(path);
        std::vector<int> loaded = ids(h.queue());
        ASSERT_EQ(int(loaded.size()), s.slots) << s.text;
        if (!from_bytes) {
            ASSERT_EQ(loaded, s.queue) << s.text;
        }

        // A few opened items: the length holds (an empty queue grows to one) and the
        // last one is at the head.
        int pushes = gen.uniform(0, 3);
        if (pushes > 0) {
            std::vector<int> rows{gen.uniform(1, 50), gen.uniform(1, 50), 7};
            for (int p = 0; p < pushes; ++p) {
                int row = gen.uniform(0, 2);
                ryt::activate(h.queue(), rows, row, !gen.chance(10));
            }
            ASSERT_EQ(int(h.queue()->length), std::max(s.slots, 1));
        }
        std::vector<int> before_save = ids(h.queue());
        before_save.resize(s.slots, -1);
        h.save();

        // The saved file loads, keeps max_history as written and lists the queue.
        std::string saved = ryt::read_file(path);
        ry::key_file_ptr kf(g_key_file_new());
        ASSERT_TRUE(g_key_file_load_from_data(kf.get(), saved.data(), saved.size(), keep_flags, nullptr))
            << saved;
        ry::gchar_ptr raw(g_key_file_get_value(kf.get(), "HISTORY", "max_history", nullptr));
        ASSERT_EQ(raw ? std::optional<std::string>(raw.get()) : std::nullopt, s.max_history);
        gsize n = 0;
        gint* items = g_key_file_get_integer_list(kf.get(), "HISTORY", "items", &n, nullptr);
        std::vector<int> written(items, items + n);
        g_free(items);
        ASSERT_EQ(written, before_save);
        for (const auto& line : s.kept_lines) ASSERT_NE(saved.find(line + "\n"), std::string::npos) << line;

        History again(path);
        ASSERT_EQ(ids(again.queue()), before_save);
    }
    EXPECT_GE(done, 200) << "too few cases within the time budget";
    RecordProperty("cases", done);
}

}  // namespace
