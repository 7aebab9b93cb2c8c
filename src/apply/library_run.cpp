// A run with a logo library: look up, learn, add, and the logos the run applies.
#include "apply/library_run.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "apply/library_files.h"
#include "logo/logo_library.h"

namespace {

// A graphic of a run's estimate that is not the run's own logo (one beside a known logo,
// or beside the strongest new one) waits in DIR/.candidates until another recording shows
// it too, and only then becomes a logo of the library: the still objects of one
// programme's locked-off shot are graphics of its estimate and never come back, a tag or
// a second logo of the channel does. At most this many wait; the oldest go first.
constexpr int most_candidates = 8;
const char candidates_dir[] = "/.candidates";

// A known logo (or a candidate) found in the recording: which, where its samples are, and
// what they add.
struct found_logo {
    library_entry entry;
    bool candidate = false;
    logo_lookup lookup;
    logo_statistics added; // this recording's samples (weight 0 when they cannot be added)
    frame_logo applied;    // the logo learnt with them
};

// A new logo of the recording's own estimate.
struct new_logo {
    library_entry entry;
    bool learnable = false; // its statistics hold this recording's samples
    bool candidate = false; // kept until found again, not yet a logo of the library
};

// The sampled region that holds box b (frame pixels) whole, or -1.
int region_of(const picture_samples& s, int x, int y, int w, int h) {
    for (size_t c = 0; c < s.where.size(); ++c) {
        const picture_rect& q = s.where[c];
        if (q.w > 0 && q.h > 0 && x >= q.x && y >= q.y && x + w <= q.x + q.w && y + h <= q.y + q.h)
            return int(c);
    }
    return -1;
}

// Whether two boxes share a pixel. No margin: a known logo's learnt box reaches a few
// pixels past its letters, and a special-event logo may stand that near it.
bool boxes_meet(const graphic_box& a, const graphic_box& b) {
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

// A name for a new logo: its corner and a hash of its opacity ("ne-3fa9c2d1").
std::string generated_name(const frame_logo& logo) {
    static const char* const corners[] = {"nw", "ne", "sw", "se"};
    const graphic_box& b = logo.graphics.front();
    uLong h = crc32(0L, Z_NULL, 0);
    for (int y = b.y; y < b.y + b.h; ++y)
        for (int x = b.x; x < b.x + b.w; ++x) {
            const Bytef a = Bytef(std::lround(255 * logo.alpha[size_t(y) * size_t(logo.width) + size_t(x)]));
            h = crc32(h, &a, 1);
        }
    const int cx = b.x + b.w / 2 < logo.width / 2 ? 0 : 1;
    const int corner = cx + (b.y + b.h / 2 < logo.height / 2 ? 0 : 2);
    char name[32];
    snprintf(name, sizeof name, "%s-%08lx", corners[corner], h & 0xFFFFFFFFUL);
    return name;
}

// `wanted`, or wanted-2, wanted-3, ... : the first that names nothing in the library yet
// nor in `taken`.
std::string free_name(const std::string& dir, const std::string& wanted,
                      const std::vector<std::string>& taken) {
    for (int k = 1;; ++k) {
        const std::string name = k == 1 ? wanted : wanted + "-" + std::to_string(k);
        if (!name_taken(dir, name) && std::find(taken.begin(), taken.end(), name) == taken.end())
            return name;
    }
}

// The recording's fingerprint: a CRC-32 of its samples' luma, the same in every run on one
// file (the sampling is). A candidate is found "again" only in another recording: a run
// repeated on the recording that added it shows it every time.
std::string fingerprint_of(const picture_samples& s) {
    uLong h = crc32(0L, Z_NULL, 0);
    for (const corner_samples& c : s.rects)
        if (!c.luma.values.empty()) h = crc32_z(h, c.luma.values.data(), c.luma.values.size());
    char text[16];
    snprintf(text, sizeof text, "%08lx\n", h & 0xFFFFFFFFUL);
    return text;
}

// Removes the oldest candidates of `dir` (by their statistics' time) beyond most_candidates.
void prune_candidates(const std::string& dir) {
    std::vector<std::pair<time_t, std::string>> by_age;
    for (const std::string& name : library_names(dir)) {
        struct stat info;
        if (stat((dir + "/" + name + ".stats").c_str(), &info) == 0)
            by_age.emplace_back(info.st_mtime, name);
    }
    std::sort(by_age.begin(), by_age.end());
    for (size_t k = 0; k + most_candidates < by_age.size(); ++k)
        remove_entry(dir, by_age[k].second);
}

} // namespace

std::string use_library(const library_request& q, const picture_samples& s, frame_logo& logo,
                        bool& found, library_outcome& out) {
    int shift_x = 1, shift_y = 1, planes = 0;
    for (const corner_samples& c : s.rects)
        if (c.luma.width > 0 && !planes) {
            planes = c.cb.width > 0 ? 3 : 1;
            shift_x = c.shift_x;
            shift_y = c.shift_y;
        }
    if (!planes) return "";
    const std::string waiting = q.dir + candidates_dir;
    const std::string fingerprint = fingerprint_of(s);
    std::vector<library_entry> known;
    size_t logos = 0; // known[logos...] are candidates
    // A run that changes the library holds it, exclusively, from reading it to its last
    // write: of two runs at once on recordings of a channel it does not know, the second
    // then finds the logo the first added instead of adding it again under another name.
    // (The lookup and the learning take a few per cent of the model's analysis.) A dry run
    // only reads, sharing the lock.
    if (!q.dry_run && mkdir(q.dir.c_str(), 0777) != 0 && errno != EEXIST)
        return "cannot make the logo library " + q.dir + ": " + strerror(errno);
    const library_lock lock(q.dir, !q.dry_run);
    if (!lock.error().empty()) return lock.error();
    known = read_library(q.dir, s.width, s.height, shift_x, shift_y, planes, out.notes);
    logos = known.size();
    for (library_entry& e : read_library(waiting, s.width, s.height, shift_x, shift_y, planes, out.notes))
        if (read_note(waiting, e.name + ".from") != fingerprint) known.push_back(std::move(e));

    // The known logos the samples show, the one shown most first.
    std::vector<found_logo> shown;
    for (size_t i = 0; i < known.size(); ++i) {
        library_entry& e = known[i];
        const int c = region_of(s, e.stats.r.x, e.stats.r.y, e.stats.r.w, e.stats.r.h);
        const int l = c >= 0 ? c : region_of(s, e.logo.box_x, e.logo.box_y, e.logo.box_w, e.logo.box_h);
        if (l < 0) {
            out.notes.push_back("logo " + e.name + " lies outside the corners searched: not looked up");
            continue;
        }
        const picture_rect& at = s.where[size_t(l)];
        found_logo f;
        f.lookup = look_up(e.logo, s.rects[size_t(l)], at.x, at.y);
        if (!f.lookup.present) continue;
        f.added = empty_statistics(e.stats.frame_width, e.stats.frame_height, e.stats.shift_x,
                                   e.stats.shift_y, e.stats.planes, e.stats.r);
        if (c < 0 || !add_recording(f.added, s.rects[size_t(c)], at.x, at.y, shown_weights(f.lookup)))
            out.notes.push_back("logo " + e.name + ": its statistics reach beyond the corner searched; not learnt from this recording");
        f.entry = std::move(e);
        f.candidate = i >= logos;
        shown.push_back(std::move(f));
    }
    std::stable_sort(shown.begin(), shown.end(), [](const found_logo& a, const found_logo& b) {
        return a.lookup.shown > b.lookup.shown;
    });
    // Two known logos at one place (a special-event logo over the usual one): one model
    // holds one opacity per pixel, so the one shown in more samples is applied.
    for (size_t i = 0; i < shown.size(); ++i)
        for (size_t j = i + 1; j < shown.size();)
            if (logos_overlap(shown[i].entry.logo, shown[j].entry.logo)) {
                out.notes.push_back("logo " + shown[j].entry.name + " overlaps " + shown[i].entry.name +
                                    ", shown in more samples: not applied");
                shown.erase(shown.begin() + long(j));
            } else {
                ++j;
            }

    // The estimate's graphics where no known logo is: new logos. The first that can be
    // learnt is the run's own logo when no known one is found here or when the user names
    // it; the others are candidates.
    bool known_found = false;
    for (const found_logo& f : shown)
        known_found = known_found || !f.candidate;
    bool own_taken = known_found && q.name.empty();
    std::vector<new_logo> fresh;
    for (size_t k = 0; found && k < logo.graphics.size(); ++k) {
        const graphic_box& b = logo.graphics[k];
        bool known_here = false;
        for (const found_logo& f : shown)
            for (const graphic_box& g : f.entry.logo.graphics)
                known_here = known_here || boxes_meet(b, g);
        if (known_here) continue;
        new_logo n;
        n.entry.logo = graphic_of(logo, int(k));
        const plane_rect r = statistics_rect(b, s.width, s.height, shift_x, shift_y);
        n.entry.stats = empty_statistics(s.width, s.height, shift_x, shift_y, planes, r);
        const int c = region_of(s, r.x, r.y, r.w, r.h);
        if (c >= 0) {
            const picture_rect& at = s.where[size_t(c)];
            const logo_lookup l = look_up(n.entry.logo, s.rects[size_t(c)], at.x, at.y);
            n.learnable = add_recording(n.entry.stats, s.rects[size_t(c)], at.x, at.y, shown_weights(l));
        }
        if (!n.learnable)
            out.notes.push_back("a new logo at " + std::to_string(b.x) + "," + std::to_string(b.y) +
                                " is too near the edge of its corner to be learnt: not added");
        n.candidate = n.learnable && own_taken;
        own_taken = own_taken || n.learnable;
        fresh.push_back(std::move(n));
    }

    std::vector<std::string> taken;
    // A new logo's name: the user's for the run's own logo, else generated; free in the
    // library and among the candidates, but for a candidate's own name and for one this
    // recording added (a run repeated replaces what it left).
    auto name_new = [&](const std::string& wanted, bool promoted = false) {
        for (int k = 1;; ++k) {
            const std::string name = free_name(q.dir, k == 1 ? wanted : wanted + "-" + std::to_string(k), taken);
            if (promoted || !name_taken(waiting, name) || read_note(waiting, name + ".from") == fingerprint) {
                taken.push_back(name);
                return name;
            }
        }
    };
    if (q.dry_run) {
        // What would be learnt, in memory: the library stays as it is.
        for (found_logo& f : shown) {
            logo_statistics merged = f.entry.stats;
            add_statistics(merged, f.added);
            if (!relearn(merged, f.entry.logo, q.black, f.applied)) f.applied = f.entry.logo;
            if (f.candidate) f.entry.name = name_new(f.entry.name, true);
        }
        for (new_logo& n : fresh)
            if (n.learnable)
                n.entry.name = name_new(n.candidate || q.name.empty() ? generated_name(n.entry.logo) : q.name);
        if (!shown.empty() || !taken.empty())
            out.notes.push_back("dry run: the library " + q.dir + " is left as it is");
    } else {
        for (found_logo& f : shown) {
            // Nothing changed it since it was read: this run holds the lock.
            library_entry& now = f.entry;
            const std::string was = now.name;
            f.applied = now.logo;
            const bool learnt = f.added.weight > 0 && add_statistics(now.stats, f.added);
            if (learnt && relearn(now.stats, now.logo, q.black, f.applied)) now.logo = f.applied;
            if (!learnt && !f.candidate) continue;
            // A candidate shown again becomes a logo of the library.
            if (f.candidate) now.name = name_new(now.name, true);
            const std::string failed = write_entry(q.dir, now);
            if (!failed.empty()) return failed;
            if (f.candidate) remove_entry(waiting, was);
        }
        bool waits = false;
        for (new_logo& n : fresh) {
            if (!n.learnable) continue;
            n.entry.name = name_new(n.candidate || q.name.empty() ? generated_name(n.entry.logo) : q.name);
            if (n.candidate && !waits && mkdir(waiting.c_str(), 0777) != 0 && errno != EEXIST)
                return "cannot make " + waiting + ": " + strerror(errno);
            waits = waits || n.candidate;
            std::string failed = write_entry(n.candidate ? waiting : q.dir, n.entry);
            if (failed.empty() && n.candidate) failed = write_note(waiting, n.entry.name + ".from", fingerprint);
            if (!failed.empty()) return failed;
        }
        if (waits) prune_candidates(waiting);
    }
    for (const new_logo& n : fresh)
        if (n.candidate)
            out.notes.push_back("a graphic at " + std::to_string(n.entry.logo.graphics.front().x) + "," +
                                std::to_string(n.entry.logo.graphics.front().y) + (q.dry_run ? " would wait" : " waits") +
                                " as candidate " + n.entry.name +
                                ": it becomes a logo of the library when another recording shows it");

    // What the run applies: the known logos found, then the new ones.
    std::vector<const frame_logo*> applied;
    for (const found_logo& f : shown) {
        applied.push_back(&f.applied);
        out.lines.push_back("logo: " + f.entry.name + (f.candidate ? " (new)" : ""));
        char line[160];
        snprintf(line, sizeof line, "logo %s: shown in %d of %zu samples; learnt from %d recordings",
                 f.entry.name.c_str(), f.lookup.shown, f.lookup.presence.size(),
                 f.entry.stats.recordings);
        out.notes.push_back(line);
    }
    for (const new_logo& n : fresh) {
        applied.push_back(&n.entry.logo);
        if (!n.entry.name.empty() && !n.candidate) out.lines.push_back("logo: " + n.entry.name + " (new)");
    }
    found = !applied.empty();
    if (found) logo = combined_logo(applied);
    return "";
}
