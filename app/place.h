#pragma once

// Where the window opens and how narrow it may get, from the screen and the widgets' needs.

// A rectangle in the screen's device-independent pixels.
struct Box {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Box&) const = default;
};

// What the window manager adds around the window's content: title bar and borders.
struct Margins {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// The window's content rectangle on a screen whose free area (without panels) is `available`:
// the preferred 800 by 820 when it fits with its frame, otherwise the largest size that fits,
// never below `narrowest` by `shortest`; centred, but never with the frame's top or left edge
// outside the area, so the title bar stays reachable even when the minimum does not fit.
Box place(const Box& available, const Margins& frame, int narrowest, int shortest);

// The window's minimum width: the design's 720, widened until the widest row that cannot wrap
// (a check box, a button or a pop-up in the desktop's font) fits between the column's insets
// beside a vertical scroll bar `scrollBar` wide.
int minimumWidthFor(int widestRow, int scrollBar);
