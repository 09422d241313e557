// Property test of the history file: random bytes and random key files go through
// load, a few recorded items and save; the queue keeps its bounded length, the saved
// file loads again with the same ids, and what the user wrote besides survives.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <random>

#include "recent_test_support.h"
#include "ry_recent.h"
#include "test_support.h"

using ryt::ids;

namespace {

constexpr int n_cases = 2000;
constexpr gint64 time_budget_us = 60 * G_USEC_PER_SEC;
const auto keep_flags = GKeyFileFlags(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);

// A generated file and what loading it must give; a file without groups gets the defaults.
struct Sample {
    std::string text;
    int slots = 10;
    std::optional<std::vector<int>> queue;          // the loaded queue, head first, when known
    std::optional<std::string> max_history = "10";  // the raw value that must survive a save
    std::vector<std::string> kept;                  // comments and keys that must survive
};

struct Generator {
    std::mt19937 rng;

    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    bool chance(int percent) { return uniform(1, 100) <= percent; }
    void keep(Sample& s, const std::string& line) {
        s.text += line + "\n";
        s.kept.push_back(line);
    }

    // Bytes, biased towards the characters a key file is made of; GLib says what they hold.
    Sample random_bytes() {
        static const char syntax[] = "[]=;#\n -0123456789HISTORYmax_historyitems";
        Sample s;
        for (int n = uniform(0, 600); n > 0; --n)
            s.text += chance(60) ? syntax[uniform(0, int(sizeof syntax) - 2)] : char(uniform(0, 255));
        if (chance(30)) s.text = "[HISTORY]\n" + s.text;
        ry::key_file_ptr kf(g_key_file_new());
        gsize groups = 0;
        if (g_key_file_load_from_data(kf.get(), s.text.data(), s.text.size(), keep_flags, nullptr))
            g_strfreev(g_key_file_get_groups(kf.get(), &groups));
        if (groups == 0) return s;
        GError* error = nullptr;
        int max = g_key_file_get_integer(kf.get(), "HISTORY", "max_history", &error);
        s.slots = error ? 0 : std::clamp(max, 0, RY_MAX_HISTORY_SLOTS);
        if (error) g_error_free(error);
        ry::gchar_ptr raw(g_key_file_get_value(kf.get(), "HISTORY", "max_history", nullptr));
        s.max_history = raw ? std::optional<std::string>(raw.get()) : std::nullopt;
        return s;
    }

    Sample random_key_file(int index) {
        static const std::pair<const char*, std::optional<int>> odd_max[] = {
            {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}, {"lots", {}}, {"", {}}, {"12x", {}}};
        static const char* const junk[] = {"x", "2.5", "99999999999", "--1"};
        Sample s;
        bool any_group = false, items_valid = true;
        std::optional<int> max;
        std::vector<std::string> tokens;
        if (chance(50)) keep(s, "# keep " + std::to_string(index));
        auto other_group = [&](const char* header, const char* line) {
            s.text += header;
            keep(s, line);
            any_group = true;
        };
        if (chance(30)) other_group("[Before]\n", "colour=grey");
        std::optional<std::string> raw;
        if (chance(90)) {
            any_group = true;
            s.text += "[HISTORY]\n";
            if (chance(40)) keep(s, "# slot note " + std::to_string(index));
            if (chance(90)) {
                int pick = uniform(0, 9), value = uniform(-50, 400);
                raw = pick < 5 ? odd_max[pick].first : std::to_string(value);
                max = pick < 5 ? odd_max[pick].second : value;
                s.text += "max_history=" + *raw + "\n";
            }
            if (chance(90)) {
                s.text += "items=";
                for (int n = chance(5) ? uniform(0, 5000) : uniform(0, 40); n > 0; --n) {
                    bool bad = chance(1);
                    items_valid = items_valid && !bad;
                    tokens.push_back(bad ? junk[uniform(0, 3)]
                                         : std::to_string(chance(30) ? -1 : uniform(1, 1000000)));
                    s.text += tokens.back() + ";";
                }
                s.text += "\n";
            }
            if (chance(30)) keep(s, "note=mine");
        }
        if (chance(30)) other_group("\n[Display]\n", "name[de]=Zuletzt");
        if (any_group) {
            s.max_history = raw;
            s.slots = max ? std::clamp(*max, 0, RY_MAX_HISTORY_SLOTS) : 0;
        }
        s.queue.emplace();
        for (int i = 0; i < s.slots; ++i)
            s.queue->push_back(items_valid && size_t(i) < tokens.size() ? std::stoi(tokens[i]) : -1);
        return s;
    }
};

TEST(RecentFuzz, LoadRecordSaveKeepsQueueFileAndUserText) {
    ryt::log_messages = 0;
    Generator gen{std::mt19937(20240607)};
    ryt::TempDir dir;
    const std::string path = dir.file("ryx.history");
    const gint64 deadline = g_get_monotonic_time() + time_budget_us;
    int done = 0;
    for (; done < n_cases && g_get_monotonic_time() < deadline; ++done) {
        SCOPED_TRACE("case " + std::to_string(done));
        Sample s = done % 2 ? gen.random_key_file(done) : gen.random_bytes();
        ryt::write_file(path, s.text);
        ryt::History h(path);
        ASSERT_EQ(int(h.queue()->length), s.slots) << s.text;
        if (s.queue) {
            ASSERT_EQ(ids(h.queue()), *s.queue) << s.text;
        }

        // A few opened items, some already queued: each goes to the head (an empty slot
        // when no row is selected) and the length holds, though an empty queue grows to one.
        for (int pushes = gen.uniform(0, 3); pushes > 0; --pushes) {
            int item = gen.chance(30) ? 7 : gen.uniform(1, 50);
            bool selected = !gen.chance(10);
            ryt::activate(h.queue(), {item}, 0, selected);
            ASSERT_EQ(h.queue()->length, guint(std::max(s.slots, 1)));
            ASSERT_EQ(GPOINTER_TO_INT(g_queue_peek_head(h.queue())), selected ? item : -1);
        }
        std::vector<int> expected = ids(h.queue());
        expected.resize(s.slots, -1);
        h.save();

        // The saved file loads, keeps max_history as written and the user's text, and lists the queue.
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
        ASSERT_EQ(written, expected);
        for (const auto& line : s.kept) ASSERT_NE(saved.find(line + "\n"), std::string::npos) << line;
        ASSERT_EQ(ids(ryt::History(path).queue()), expected);
    }
    EXPECT_GE(done, 200) << "too few cases within the time budget";
    EXPECT_EQ(ryt::log_messages.load(), 0) << "GLib logged a message";
    RecordProperty("cases", done);
}

}  // namespace
