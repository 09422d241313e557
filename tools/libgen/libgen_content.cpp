// What goes into the generated libraries: the hand-made demo library, the large
// synthetic one for benchmarks, and the small files stored as attachments.
#include <glib/gstdio.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "libgen.h"

namespace libgen {

namespace {

// A one-page PDF showing one line; the cross-reference offsets are computed, so
// viewers accept it without repair.
std::string tiny_pdf(const std::string& line) {
    std::string text = "BT /F1 18 Tf 72 720 Td (" + line + ") Tj ET";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t off : offsets) {
        char entry[24];
        snprintf(entry, sizeof entry, "%010zu 00000 n \n", off);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

std::uint32_t crc32(const std::string& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put16(std::string& out, unsigned v) {
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}
void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// A zip archive of uncompressed entries, which is all an EPUB container needs.
std::string stored_zip(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string out, central;
    for (const auto& [name, data] : entries) {
        std::uint32_t offset = std::uint32_t(out.size()), crc = crc32(data);
        std::string common;
        put16(common, 0);     // no flags
        put16(common, 0);     // stored
        put16(common, 0);     // time
        put16(common, 0x21);  // 1980-01-01
        put32(common, crc);
        put32(common, std::uint32_t(data.size()));
        put32(common, std::uint32_t(data.size()));
        put16(common, unsigned(name.size()));
        put16(common, 0);  // no extra field
        put32(out, 0x04034b50);
        put16(out, 20);
        out += common + name + data;
        put32(central, 0x02014b50);
        put16(central, 20);
        put16(central, 20);
        central += common;
        put16(central, 0);  // comment
        put16(central, 0);  // disk
        put16(central, 0);  // internal attributes
        put32(central, 0);  // external attributes
        put32(central, offset);
        central += name;
    }
    std::uint32_t central_offset = std::uint32_t(out.size());
    out += central;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, unsigned(entries.size()));
    put16(out, unsigned(entries.size()));
    put32(out, std::uint32_t(central.size()));
    put32(out, central_offset);
    put16(out, 0);
    return out;
}

std::string tiny_epub(const std::string& title) {
    const std::string container =
        "<?xml version=\"1.0\"?>\n<container version=\"1.0\" "
        "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles>"
        "<rootfile full-path=\"content.opf\" media-type=\"application/oebps-package+xml\"/>"
        "</rootfiles></container>\n";
    const std::string opf =
        "<?xml version=\"1.0\"?>\n<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"2.0\" "
        "unique-identifier=\"id\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
        "<dc:title>" +
        title +
        "</dc:title><dc:identifier id=\"id\">ryx-demo</dc:identifier><dc:language>en</dc:language>"
        "</metadata><manifest><item id=\"c1\" href=\"c1.xhtml\" media-type=\"application/xhtml+xml\"/>"
        "</manifest><spine><itemref idref=\"c1\"/></spine></package>\n";
    const std::string chapter =
        "<?xml version=\"1.0\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>" + title +
        "</title></head><body><p>" + title + "</p></body></html>\n";
    return stored_zip({{"mimetype", "application/epub+zip"},
                       {"META-INF/container.xml", container},
                       {"content.opf", opf},
                       {"c1.xhtml", chapter}});
}

std::string tiny_html(const std::string& title) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
           "</title></head><body><h1>" + title +
           "</h1><p>A saved copy of an invented page.</p></body></html>\n";
}

// A time stamp n calendar months before now, on the given day (kept before now).
std::string months_ago(std::time_t now, int n, int day, int hour) {
    struct tm tm;
    gmtime_r(&now, &tm);
    int month = tm.tm_mon - n, year = tm.tm_year + 1900;
    while (month < 0) {
        month += 12;
        --year;
    }
    if (n == 0) {
        // This month: some minutes before now, never before the first of the month.
        std::time_t t = now - std::time_t(hour) * 60;
        struct tm back;
        gmtime_r(&t, &back);
        if (back.tm_mon != tm.tm_mon) t = now;
        return utc_timestamp(t);
    }
    char buf[32];
    snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month + 1, day, hour, (day * 7) % 60,
             (hour * 13) % 60);
    return buf;
}

const char* const demo_titles[] = {
    "The Art of Listing Things",
    "The Quiet Harbour",
    "The Lantern Makers of Vell",
    "A Field Guide to Paper Birds",
    "A Short History of Umbrellas",
    "An Inventory of Small Rooms",
    "An Owl in the Archive",
    "On Measuring Fog",
    "On a Theme of Lanterns",
    "On an Island Without Roads",
    "On the Patience of Stones",
    "On the Other Hand",
    "Atlas of Imaginary Coastlines",
    "Apples and Arithmetic",
    "1984",
    "2048 Lanterns Over the Bay",
    "42 Variations on a Spoon",
    "3 Essays on Tidal Clocks",
    "\xC3\x89mile and the Clockmaker's Daughter",
    "\xC3\x9C"
    "ber die Farbe des Nebels",
    "\xC3\x96"
    "d\xC3\xB6n's Ledger of Winters",
    "\xC2\xBF"
    "D\xC3\xB3nde est\xC3\xA1 el puerto?",
    "(Un)folding Maps: A Workshop Report",
    "\"Quoted\" Matters: Speech in Minutes",
    "...And Then the Rain",
    "#hashtags, Briefly",
    "A Very Long and Carefully Qualified Account of the Several Ways in Which the Tram Timetables of a "
    "Small Imaginary City Were Revised, Contested, Forgotten and Revised Again Between Two Wars",
    "The Complete and Unabridged Proceedings of the Fourth Informal Symposium on Lighthouses, Foghorns, "
    "Signal Flags and Other Means of Talking to Ships at Night",
    "On the Reliability of Hand-Drawn Charts Used by Coastal Pilots in Seasons of Unusually Thick Fog",
    "ethnography of kitchen drawers",
    "bicycles, briefly considered",
    "Zebra Crossings and Other Pauses",
    "Yesterday's Weather, Tomorrow",
    "Xylophones in the Municipal Band",
    "Walls That Remember",
    "Vellum and Vinegar",
    "Under the Pier",
    "Tables of Tides",
    "Salt, Rope and Canvas",
    "Rivers Without Names",
    "Quarrels Among Cartographers",
    "Paper Towns",
    "Orchards at Dusk",
    "Notes Toward a Theory of Queues",
    "Migrating Lighthouses",
    "Letters from the Glassworks",
    "Knots for Beginners",
    "Journeys by Night Ferry",
    "Inkwells of the Northern Coast",
    "Harbour Cranes and Their Keepers",
    "Gardens in Glass",
    "Fog Signals, 1850-1900",
    "Echoes in Stairwells",
    "Doorways",
    "Clocks That Run Backwards",
    "Bells of the Lower Town",
    "Anchors",
    "The Anchor Keeper",
    "An Almanac of Minor Storms",
    "On Lists",
};

const char* const demo_subjects[] = {"Lanterns", "Harbours", "Fog",      "Maps",   "Ferries", "Tides",
                                     "Ropes",    "Clocks",   "Orchards", "Stairs", "Bridges", "Kites"};
const char* const demo_patterns[] = {"Studies in %s", "The Politics of %s", "A Note on %s",
                                     "%s Revisited",  "On %s and Memory",   "Reading %s"};

const Creator demo_people[] = {
    {"Ann", "Abernethy"},        {"Bruno", "Becker"},
    {"Chiara", "Conti"},         {"Dmitri", "Dorn"},
    {"\xC3\x89milie", "Duval"},  {"J\xC3\xBCrgen", "\xC3\x96zkan"},
    {"\xC3\x85sa", "Lindqvist"}, {"Ngozi", "Adeyemi"},
    {"Hiro", "Tanabe"},          {"Marta", "Nowicka"},
    {"Oskar", "Rask"},           {"Priya", "Raman"},
    {"Sean", "O'Malley"},        {"Lucia", "de la Vega"},
    {"Tom", "van Dijk"},         {"Wen", "Zhou"},
    {"Yusuf", "Kaya"},           {"Zoe", "Quint"},
    {"", "Anonymous"},
};
const char* const demo_institutions[] = {"Institute for Imaginary Studies", "Committee on Paper Weather",
                                         "Harbour Board of Vell"};

}  // namespace

DemoSummary write_demo_library(LibraryBuilder& b, std::time_t now) {
    DemoSummary sum;
    const int item_types[] = {item_type::book,     item_type::journalArticle,  item_type::bookSection,
                              item_type::document, item_type::conferencePaper, item_type::webpage};
    std::vector<std::string> titles(std::begin(demo_titles), std::end(demo_titles));
    for (const char* pattern : demo_patterns)
        for (int k = 0; k < 7; ++k) {
            char buf[128];
            snprintf(buf, sizeof buf, pattern, demo_subjects[(titles.size() + k) % std::size(demo_subjects)]);
            titles.push_back(buf);
        }

    std::vector<int> items;
    const int n_people = int(std::size(demo_people));
    for (size_t i = 0; i < titles.size(); ++i) {
        Item item;
        item.type = item_types[i % std::size(item_types)];
        item.title = titles[i];
        // Creators: none, one, two, three or four people, and now and then an institution.
        int count = int(i % 5);
        for (int c = 0; c < count; ++c)
            item.creators.push_back(demo_people[(i * 3 + size_t(c) * 7) % n_people]);
        if (i % 9 == 4)
            item.creators.push_back(institution(demo_institutions[i % std::size(demo_institutions)]));
        if (i % 13 == 6)
            item.creators = {institution(demo_institutions[(i / 13) % std::size(demo_institutions)])};
        // Spread over this month and the eleven before it.
        item.date_added = months_ago(now, int(i % 12), 1 + int(i * 5 % 27), 8 + int(i % 10));
        items.push_back(b.add_item(item));
        ++sum.regular_items;
    }
    // A web page keeps its address. A case, a statute and an e-mail are titled by fields of
    // their own; two items have no title at all; one names its editor, who is also its
    // author, twice.
    b.set_field(items[0], field::date, "2003");
    for (size_t i = 5; i < items.size(); i += 6)
        b.set_field(items[i], field::url, "http://example.org/page/" + std::to_string(i));
    const Item others[] = {
        {.type = item_type::legal_case, .title = "Lantern Co. v. Harbour Board of Vell"},
        {.type = item_type::statute, .title = "Fog Signals (Amendment) Act"},
        {.type = item_type::email, .title = "Re: the tide tables"},
        {.type = item_type::document, .creators = {{"Ida", "Untitled-Papers"}}},
        {.type = item_type::webpage},
        {.title = "Harbour Lights, Edited",
         .creators = {{"Marta", "Nowicka"}, {"Marta", "Nowicka", 0, 3}, {"Xia", "Xu"}, {"Xia", "Xu"}}},
    };
    for (size_t i = 0; i < std::size(others); ++i) {
        Item item = others[i];
        item.date_added = months_ago(now, int(i * 2), 3, 9);
        items.push_back(b.add_item(item));
        titles.push_back(item.title.value_or("untitled"));
        ++sum.regular_items;
    }

    // Notes: on some items, and one standing alone.
    int first_note = 0;
    for (size_t i = 1; i < items.size(); i += 7) {
        int note = b.add_note(items[i],
                              "<p>Reading note " + std::to_string(i) + "</p><p>Check the second chapter.</p>",
                              months_ago(now, int(i % 12), 20, 10));
        if (first_note == 0) first_note = note;
        ++sum.notes;
    }
    b.add_note(0, "<p>Things to look up</p><ul><li>tide tables</li></ul>", months_ago(now, 1, 2, 11));
    ++sum.notes;

    // Attachments: none for most items, one for many, several for a few, of every kind.
    auto stored = [&](int parent, const std::string& file, const char* mime, const std::string& contents,
                      LinkMode mode = LinkMode::imported_file) {
        Attachment a;
        a.parent = parent;
        a.link_mode = mode;
        if (mime) a.mime_type = mime;
        a.file = file;
        a.contents = contents;
        a.title = mode == LinkMode::imported_url ? "Snapshot" : "Full Text";
        if (mode == LinkMode::imported_url) a.url = "http://example.org/snapshot/" + std::to_string(parent);
        b.add_attachment(a);
        ++sum.attachments;
    };
    for (size_t i = 0; i < items.size(); ++i) {
        int id = items[i];
        std::string name = "item" + std::to_string(i);
        switch (i % 6) {
            case 0:
                stored(id, name + ".pdf", "application/pdf", tiny_pdf(titles[i].substr(0, 40)));
                break;
            case 2:
                stored(id, name + ".pdf", "application/pdf", tiny_pdf("Part one"));
                stored(id, name + ".html", "text/html", tiny_html("Saved page " + name),
                       LinkMode::imported_url);
                stored(id, name + ".txt", "text/plain", "Plain notes for " + name + ".\n");
                break;
            case 4:
                if (i % 12 == 4)
                    stored(id, name + ".epub", "application/epub+zip", tiny_epub("Book " + name));
                else
                    stored(id, name + " notes.txt", "text/plain", "Invented text.\n");
                break;
            default:
                break;
        }
    }
    // A linked file outside storage, a linked URL, a file with no MIME type and one standing alone.
    {
        Attachment linked;
        linked.parent = items[1];
        linked.link_mode = LinkMode::linked_file;
        linked.mime_type = "application/pdf";
        linked.file = b.directory() + "/linked/Field Guide.pdf";
        linked.contents = tiny_pdf("Linked file");
        linked.title = "Field Guide.pdf";
        b.add_attachment(linked);
        Attachment url;
        url.parent = items[3];
        url.link_mode = LinkMode::linked_url;
        url.mime_type = "text/html";
        url.url = "http://example.org/inventory";
        url.title = "Publisher's page";
        b.add_attachment(url);
        stored(items[5], "scan.djvu", nullptr, "AT&TFORM");
        stored(0, "loose sheet.pdf", "application/pdf", tiny_pdf("A loose sheet"));
        // A file linked relative to the base directory, one linked where nothing is, and
        // a stored file that has gone missing.
        linked.file = "attachments:linked/Tide Tables.pdf";
        linked.title = "Tide Tables.pdf";
        linked.parent = items[7];
        b.add_attachment(linked);
        linked.file = b.directory() + "/linked/Moved Away.pdf";
        linked.contents.clear();
        linked.parent = items[9];
        b.add_attachment(linked);
        Attachment missing{
            .parent = items[11], .mime_type = "application/pdf", .file = "lost.pdf", .contents = "x"};
        g_unlink(b.add_attachment(missing).file_on_disk.c_str());
        sum.attachments += 5;
    }

    // Collections, mixed case, some nested two levels deep.
    int reading = b.add_collection("Reading List");
    int archive = b.add_collection("archive");
    int harbour = b.add_collection("Harbour Project");
    int drafts = b.add_collection("drafts", harbour);
    int figures = b.add_collection("Figures and Maps", harbour);
    int teaching = b.add_collection("Teaching");
    int seminar = b.add_collection("seminar B", teaching);
    int week3 = b.add_collection("Week 3 handouts", seminar);
    int emigre = b.add_collection("\xC3\x89migr\xC3\xA9 Letters");
    b.add_collection("empty collection");
    sum.collections = 10;
    const int members[] = {reading, archive, harbour, drafts, figures, teaching, seminar, week3, emigre};
    for (size_t i = 0; i < items.size(); ++i) {
        if (i % 4 == 3) continue;
        b.add_to_collection(members[i % std::size(members)], items[i]);
        if (i % 5 == 0) b.add_to_collection(reading, items[i]);
    }

    // Tags: manual and automatic, one name in both kinds.
    const char* manual[] = {"history",   "Maps",           "fog",      "to-read",
                            "Important", "\u00f6d\u00f6n", "lanterns", "method"};
    const char* automatic[] = {"history", "Cartography", "Weather -- Fiction", "Computers"};
    std::vector<int> manual_ids, automatic_ids;
    for (const char* t : manual) manual_ids.push_back(b.add_tag(t, tag_manual));
    for (const char* t : automatic) automatic_ids.push_back(b.add_tag(t, tag_automatic));
    sum.tags = int(manual_ids.size() + automatic_ids.size());
    for (size_t i = 0; i < items.size(); ++i) {
        int count = int(i % 4);  // zero to three manual tags
        for (int k = 0; k < count; ++k)
            b.tag_item(items[i], manual_ids[(i + size_t(k) * 3) % manual_ids.size()]);
        if (i % 3 == 1) b.tag_item(items[i], automatic_ids[i % automatic_ids.size()]);
    }

    // A tag that only a note carries leads to the note's item.
    b.tag_item(first_note, b.add_tag("annotated", tag_manual));
    ++sum.tags;
    // The trash: an item with a note and a tag of its own, and a note of a live item.
    int trashed = b.add_item({.title = "A Discarded Draft", .creators = {{"Ann", "Abernethy"}}});
    b.tag_item(trashed, b.add_tag("discarded", tag_manual));
    b.add_note(trashed, "<p>Why this went</p>");
    b.trash(trashed);
    b.trash(b.add_note(items[2], "<p>An outdated note</p>"));
    sum.regular_items += 1;
    sum.notes += 2;
    ++sum.tags;
    return sum;
}

namespace {

const char* const syllables[] = {"ka", "lo", "mer", "tin", "sa",  "vel", "dor", "ri",  "an", "bel",
                                 "co", "du", "fen", "gar", "hal", "is",  "jo",  "ken", "ul", "wy"};
const char* const title_words[] = {
    "harbour", "lantern", "fog",    "map",      "tide",   "clock",   "orchard", "bridge",
    "river",   "archive", "ledger", "ferry",    "bell",   "glass",   "rope",    "salt",
    "kite",    "stair",   "window", "garden",   "theory", "history", "method",  "practice",
    "network", "signal",  "memory", "weather",  "coast",  "city",    "market",  "letter",
    "library", "machine", "island", "mountain", "paper",  "engine",  "voice",   "border"};
const char* const title_prefixes[] = {"", "", "", "", "The ", "A ", "An ", "On ", "On the ", "On a "};

std::string capitalised(std::string s) {
    if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = char(s[0] - 'a' + 'A');
    return s;
}

}  // namespace

void write_synthetic_library(LibraryBuilder& b, const SyntheticOptions& o, std::time_t now) {
    std::mt19937 rng(o.seed);
    auto below = [&](int n) { return n <= 0 ? 0 : int(rng() % unsigned(n)); };
    auto word = [&] { return std::string(title_words[below(int(std::size(title_words)))]); };
    auto name = [&] {
        std::string s;
        for (int k = 0, n = 2 + below(2); k < n; ++k) s += syllables[below(int(std::size(syllables)))];
        return capitalised(s);
    };

    // A pool of people, a few of them prolific.
    std::vector<Creator> people;
    for (int k = 0; k < std::max(50, o.items / 4); ++k) {
        std::string first = name();
        people.push_back({first, name()});
    }
    std::vector<int> tags;
    for (int k = 0; k < o.tags; ++k)
        tags.push_back(b.add_tag(word() + " " + std::to_string(k), k % 5 == 4 ? tag_automatic : tag_manual));
    std::vector<int> collections;
    for (int k = 0; k < o.collections; ++k) {
        int parent = k > 5 && below(3) == 0 ? collections[size_t(below(k))] : 0;
        std::string n = word() + " " + std::to_string(k);
        collections.push_back(b.add_collection(k % 2 ? capitalised(n) : n, parent));
    }

    const int types[] = {
        item_type::journalArticle, item_type::journalArticle, item_type::journalArticle,  item_type::book,
        item_type::book,           item_type::bookSection,    item_type::conferencePaper, item_type::document,
        item_type::webpage};
    const std::time_t span = std::time_t(5) * 365 * 24 * 3600;  // added over five years
    for (int i = 0; i < o.items; ++i) {
        Item item;
        item.type = types[below(int(std::size(types)))];
        // One draw per statement where several meet: the order of operands is up to
        // the compiler, and the same seed must give the same library everywhere.
        std::string title = title_prefixes[below(int(std::size(title_prefixes)))];
        title += capitalised(word());
        for (int k = 0, n = below(6); k < n; ++k) {
            title += ' ';
            title += word();
        }
        if (below(50) == 0) title = std::to_string(1800 + below(220));
        item.title = title;
        int n_creators = below(4);
        n_creators = std::min(n_creators + below(3), 5);  // mostly one to three
        for (int k = 0; k < n_creators; ++k) {
            int pick = below(3) == 0 ? below(20) : below(int(people.size()));
            item.creators.push_back(people[size_t(pick)]);
        }
        if (below(40) == 0) item.creators = {institution(capitalised(word()) + " Society")};
        item.date_added =
            utc_timestamp(now - span + std::time_t(i) * (span / std::max(1, o.items)) + below(3600));
        int id = b.add_item(item);

        // Tags: small numbers, the first ones much more common.
        int n_tags = below(4);
        if (below(4) == 0) n_tags += below(6);
        for (int k = 0; k < n_tags && !tags.empty(); ++k) {
            int r = below(int(tags.size()));
            b.tag_item(id, tags[size_t(below(3) == 0 ? r : r / 10)]);
        }
        for (int k = 0, n = below(3); k < n && !collections.empty(); ++k)
            b.add_to_collection(collections[size_t(below(int(collections.size())))], id);
        if (below(10) < 6) {
            Attachment a;
            a.parent = id;
            a.mime_type = "application/pdf";
            a.file = "item" + std::to_string(i) + ".pdf";
            a.contents = "%PDF-1.4\n%%EOF\n";
            a.title = "Full Text PDF";
            if (below(8) == 0) {
                a.link_mode = LinkMode::imported_url;
                a.mime_type = "text/html";
                a.file = "snapshot.html";
                a.contents = "<html></html>\n";
                a.title = "Snapshot";
            }
            b.add_attachment(a);
        }
        if (below(10) == 0) b.add_note(id, "<p>note " + std::to_string(i) + "</p>", item.date_added);
    }
}

}  // namespace libgen
