#include "linux/FontFileMatch.h"

#include <cstring>
#include <dlfcn.h>
#include <initializer_list>

namespace {

bool holdsFile(FcPattern* font, const char* file)
{
    FcChar8* name = nullptr;
    for (int i = 0; FcPatternGetString(font, FC_FILE, i, &name) == FcResultMatch; ++i)
        if (std::strcmp(reinterpret_cast<const char*>(name), file) == 0)
            return true;
    return false;
}

} // namespace

namespace FontFileMatch {

FcPattern* withinFile(FcConfig* config, FcPattern* pattern, FcResult* result)
{
    FcChar8* file = nullptr;
    FcChar8* another = nullptr;
    if (FcPatternGetString(pattern, FC_FILE, 0, &file) != FcResultMatch ||
        FcPatternGetString(pattern, FC_FILE, 1, &another) == FcResultMatch)
        return nullptr;
    // Held for the whole match: the fonts listed belong to it.
    config = FcConfigReference(config);
    if (!config)
        return nullptr;
    FcFontSet* fromFile = FcFontSetCreate();
    // In fontconfig's own order, which decides between equally good fonts.
    for (const FcSetName set : {FcSetSystem, FcSetApplication})
        if (FcFontSet* fonts = FcConfigGetFonts(config, set))
            for (int i = 0; i < fonts->nfont; ++i)
                if (holdsFile(fonts->fonts[i], reinterpret_cast<const char*>(file))) {
                    FcPatternReference(fonts->fonts[i]);
                    FcFontSetAdd(fromFile, fonts->fonts[i]);
                }
    FcPattern* best = nullptr;
    if (fromFile->nfont > 0)
        best = FcFontSetMatch(config, &fromFile, 1, pattern, result);
    FcFontSetDestroy(fromFile);
    FcConfigDestroy(config);
    return best;
}

FcPattern* match(FcConfig* config, FcPattern* pattern, FcResult* result)
{
    if (FcPattern* best = withinFile(config, pattern, result))
        return best;
    using Match = FcPattern* (*)(FcConfig*, FcPattern*, FcResult*);
    static const auto own = reinterpret_cast<Match>(dlsym(RTLD_NEXT, "FcFontMatch"));
    if (!own) {
        *result = FcResultNoMatch;
        return nullptr;
    }
    return own(config, pattern, result);
}

} // namespace FontFileMatch
