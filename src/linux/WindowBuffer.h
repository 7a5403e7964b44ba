#pragma once

class QBackingStore;
class QSize;

// A window shown for the first time is painted into a fresh shared buffer, and each page of it
// costs a page fault on the first write: for a sheet, about half of its first frame.
namespace WindowBuffer {

// Under X11, makes `store`'s buffer at `size` now and has a thread of its own map all its pages
// while the window waits for the display server to show it. Nothing elsewhere, and nothing that
// changes what is drawn.
void prepare(QBackingStore* store, const QSize& size);

} // namespace WindowBuffer
