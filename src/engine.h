// SPDX-License-Identifier: ISC
// The engine: the work the program does on every byte, written once over a
// small vector layer and compiled once for each kind of processor it may
// run on (src/simd/).  One engine is chosen when the program starts; the
// run control and the element-set unit reach it only through this table.

#ifndef KEPSIFT_ENGINE_H
#define KEPSIFT_ENGINE_H

#include <cstddef>
#include <span>

#include "kepsift.h"

struct engine {
    // The name a build switch and the tests use for it.
    const char* name;

    // The line reader: see read_line in kepsift.h.
    int (*read_line)(input_line& line, input_blocks& input);

    // The search of one window: see search_window in kepsift.h.
    window_search (*search_window)(const line_window& window);

    // The leftmost column at which name_line and line_one hold a bare pair.
    int (*find_bare_pair)(const line_window& window);

    // True if the 69 columns at one and at two are a valid line 1 and line 2.
    bool (*pair_passes)(const char* one, const char* two);

    // Where the name of a set at column starts in name_line, or NO_COLUMN
    // if the name line cannot name a set there.
    int (*name_start)(const line_window& window, int column);

    // The plain sum of columns 1 to 68 at columns, and the plus signs among
    // them.
    int (*plain_sum)(const char* columns);
    int (*plus_signs)(const char* columns);

    // Copies 69 columns from from to to, every '+' a space, and tells
    // whether there was one.  The copy may be made in place.
    bool (*copy_replacing_plus)(char* to, const char* from);

    // Puts the set of one and two at column, named from name_line on from
    // name_start or with an empty name when name_line is null, at to in its
    // written form, and returns its length.  It may store up to
    // MOST_SET_BYTES bytes from to, past the set's end.
    int (*put_set)(char* to, const input_line* name_line, int name_start, const input_line& one,
                   const input_line& two, int column);

    // The whole loop over the window: see sift_blocks in kepsift.h.
    sift_result (*sift)(line_window& window, input_blocks& input, output_blocks& output);
};

// Every engine this build holds, the best first.
std::span<const engine* const> built_engines();

// True if this processor can run the engine.
bool runs_here(const engine& candidate);

// The engine in use: the best one this processor can run, chosen when the
// program starts.
extern const engine* engine_in_use;
inline const engine& current_engine() { return *engine_in_use; }

// Puts the engine of that name in use; false, and nothing changed, if the
// build does not hold it or this processor cannot run it.
bool use_engine(const char* name);

#endif
