#include "linux/FontCatalogPreload.h"

#include <fontconfig/fontconfig.h>

FontCatalogPreload::FontCatalogPreload()
    : m_thread([] {
          if (!FcInit())
              return;
          // Listing every font reads each one's entry from the catalogue's cache files, whose pages
          // are mapped but not yet read; the toolkit's own listing then finds them in memory.
          FcPattern* all = FcPatternCreate();
          FcObjectSet* fields = FcObjectSetBuild(FC_FAMILY, FC_STYLE, FC_FILE, FC_INDEX, nullptr);
          if (all && fields)
              if (FcFontSet* fonts = FcFontList(nullptr, all, fields))
                  FcFontSetDestroy(fonts);
          if (fields)
              FcObjectSetDestroy(fields);
          if (all)
              FcPatternDestroy(all);
      })
{
}

FontCatalogPreload::~FontCatalogPreload()
{
    wait();
}

void FontCatalogPreload::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}
