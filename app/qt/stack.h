#pragma once

#include <QWidget>

class QVBoxLayout;

// The window's one column: rows stacked from the top down with 16 points between them and 24
// points of inset on every side. Rows are appended once, when the window is built.
class ContentStack : public QWidget {
  Q_OBJECT

 public:
  explicit ContentStack(QWidget* parent = nullptr);

  // Appends a row that keeps its natural width and starts at the left inset.
  void append(QWidget* row);
  // Appends a row that takes the whole width between the insets: a text line wraps within the
  // column width minus 48 points.
  void appendWide(QWidget* row);
  // Anchors the rows at the top when the column is taller than they are.
  void finish();

 private:
  QVBoxLayout* rows;
};
