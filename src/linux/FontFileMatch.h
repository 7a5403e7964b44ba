#pragma once

#include <fontconfig/fontconfig.h>

// The toolkit asks fontconfig how to draw each face it loads (hinting, smoothing) by matching a
// pattern that names the face's file against every installed font: a fifth of a millisecond a
// face with some 400 fonts installed, and the first screen loads fifteen faces. A font's file is
// the first thing fontconfig compares, so the best match always comes from the file named; matching
// among that file's fonts alone gives the same answer for a small part of the cost.
namespace FontFileMatch {

// fontconfig's best match for `pattern` among the fonts of the one file it names, prepared for
// drawing as FcFontMatch prepares it; nullptr when the pattern names no file, several, or one
// the configuration does not hold.
FcPattern* withinFile(FcConfig* config, FcPattern* pattern, FcResult* result);

// withinFile's answer, or else fontconfig's own match among all fonts. The program stands in for
// FcFontMatch with this.
FcPattern* match(FcConfig* config, FcPattern* pattern, FcResult* result);

} // namespace FontFileMatch
