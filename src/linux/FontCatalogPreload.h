#pragma once

#include <thread>

// The desktop's font configuration and the catalogue of its installed fonts, loaded on a thread of
// its own while the toolkit starts: the first text the program measures waits for both, and
// reading them takes several milliseconds that the toolkit's own start leaves a processor idle
// for. Loading is shared by the whole process, so the toolkit finds them ready.
class FontCatalogPreload {
public:
    FontCatalogPreload();
    ~FontCatalogPreload();
    FontCatalogPreload(const FontCatalogPreload&) = delete;
    FontCatalogPreload& operator=(const FontCatalogPreload&) = delete;

    // Returns once the catalogue is loaded (or loading failed, which the toolkit then meets and
    // reports as it would have). Before the first font is used: two threads loading at once
    // would each load all of it.
    void wait();

private:
    std::thread m_thread;
};
