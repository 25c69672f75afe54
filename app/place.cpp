#include "app/place.h"

#include <algorithm>

#include "app/rows.h"

Box place(const Box& available, const Margins& frame, int narrowest, int shortest) {
  const int horizontal = frame.left + frame.right;
  const int vertical = frame.top + frame.bottom;
  Box content;
  content.width = std::max(narrowest, std::min(windowWidth, available.width - horizontal));
  content.height = std::max(shortest, std::min(windowHeight, available.height - vertical));
  // The frame's outer edges, centred; a frame larger than the area starts at its top left.
  const int left = available.x + std::max(0, (available.width - content.width - horizontal) / 2);
  const int top = available.y + std::max(0, (available.height - content.height - vertical) / 2);
  content.x = left + frame.left;
  content.y = top + frame.top;
  return content;
}

int minimumWidthFor(int widestRow, int scrollBar) {
  return std::max(minimumWidth, widestRow + 2 * inset + scrollBar);
}
