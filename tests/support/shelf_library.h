// A small library whose rows exercise the listing rules: several creators, the
// leading word groups, notes and attachment items with titles, tags of both
// types, collections in mixed case, months.
#pragma once

#include <string>

#include "libgen.h"

namespace ryt {

struct Shelf {
    int atlas, art, theme, apart, number, untitled;
    int zeta, alpha_collection, beta_collection, tag_alpha, tag_beta;
};

inline Shelf write_shelf(const std::string& dir) {
    using namespace libgen;
    ClassicLibraryBuilder b(dir);
    Shelf s{};
    s.atlas = b.add_item({.title = "Atlas",
                          .creators = {{"Ann", "Lee"}, {"Bob", "Zed"}, {"Cy", "Mid"}},
                          .date_added = "2009-03-10 10:00:00"});
    s.art = b.add_item(
        {.title = "The Art of Listing", .creators = {{"Tom", "Young"}}, .date_added = "2009-03-20 10:00:00"});
    s.theme = b.add_item({.title = "On a Theme", .date_added = "2009-04-01 10:00:00"});
    s.apart = b.add_item({.title = "Apart",
                          .creators = {{"Xi", "Aaron"}, {"Yu", "Zulu"}},
                          .date_added = "2010-01-05 10:00:00"});
    s.number =
        b.add_item({.title = "1984", .creators = {{"Geo", "Orwell"}}, .date_added = "2009-03-10 10:00:00"});
    s.untitled = b.add_item({.creators = {{"No", "Title"}}, .date_added = "2009-03-10 10:00:00"});
    // A note and an attachment item that carry titles and would match every filter.
    const int note = b.add_item({.type = item_type::note,
                                 .title = "Annotated note",
                                 .creators = {{"Ann", "Lee"}},
                                 .date_added = "2009-03-15 10:00:00"});
    const int attachment_item = b.add_attachment({.parent = 0,
                                                  .mime_type = "application/pdf",
                                                  .file = "loose.pdf",
                                                  .contents = "%PDF",
                                                  .title = "Atlas loose scan",
                                                  .date_added = "2009-03-15 10:00:00"})
                                    .item_id;
    b.add_attachment(
        {.parent = s.atlas, .mime_type = "application/pdf", .file = "atlas.pdf", .contents = "%PDF"});
    b.add_attachment({.parent = s.atlas, .link_mode = LinkMode::linked_url, .url = "http://example.org"});
    b.add_attachment(
        {.parent = s.atlas, .mime_type = "application/epub+zip", .file = "atlas.epub", .contents = "PK"});
    b.add_attachment({.parent = s.apart, .mime_type = "text/html", .file = "apart.html", .contents = "<p>"});

    s.zeta = b.add_collection("Zeta");
    s.alpha_collection = b.add_collection("alpha");
    s.beta_collection = b.add_collection("Beta", s.zeta);
    for (int id : {s.atlas, s.art, note, attachment_item}) b.add_to_collection(s.zeta, id);
    b.add_to_collection(s.alpha_collection, s.apart);

    s.tag_alpha = b.add_tag("alpha");
    s.tag_beta = b.add_tag("Beta");
    b.add_tag("charlie");
    const int gamma_auto = b.add_tag("gamma", tag_automatic);
    b.add_tag("alpha", tag_automatic);
    for (int id : {s.atlas, s.art, note, attachment_item}) b.tag_item(id, s.tag_alpha);
    b.tag_item(s.atlas, s.tag_beta);
    b.tag_item(s.apart, gamma_auto);
    b.finish();
    return s;
}

}  // namespace ryt
