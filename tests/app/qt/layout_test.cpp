// The window's rows, looks and sizing.

#include <QFontMetrics>
#include <QKeySequence>
#include <QLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <cmath>
#include <map>

#include "app/qt/stack.h"
#include "fixture.h"

namespace {

const QColor text = QColor::fromRgbF(0.2f, 0.22f, 0.19f);
const QColor accent = QColor::fromRgbF(0.78f, 0.28f, 0.04f);

class Layout : public Window {
 protected:
  ContentStack* column() const { return front->window->findChild<ContentStack*>(); }
  QScrollArea* scroll() const { return front->window->findChild<QScrollArea*>(); }
  std::vector<QWidget*> rows() const {
    std::vector<QWidget*> widgets;
    QLayout* layout = column()->layout();
    for (int i = 0; i < layout->count(); ++i) {
      if (QWidget* widget = layout->itemAt(i)->widget())
        widgets.push_back(widget);
    }
    return widgets;
  }
  // Lets the layout settle after a show or a resize.
  static void settle() {
    for (int i = 0; i < 5; ++i)
      QApplication::processEvents();
  }
};

TEST_F(Layout, EachRowIsItsWidget) {
  open();
  const std::vector<QWidget*> actual = rows();
  const std::vector<Row>& expected = front->app.rows;
  ASSERT_EQ(actual.size(), expected.size());
  std::vector<QWidget*> menus;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i + 1) + ": " + expected[i].text);
    const Row& row = expected[i];
    QWidget* widget = actual[i];
    const QString words = QString::fromStdString(row.text);
    switch (row.kind) {
      case Kind::text: {
        auto* label = qobject_cast<QLabel*>(widget);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), words);
        EXPECT_EQ(label->font().pixelSize(), row.size);
        EXPECT_EQ(label->palette().color(QPalette::WindowText),
                  row.colour == Colour::accent ? accent : text);
        EXPECT_TRUE(label->wordWrap());
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        break;
      }
      case Kind::button: {
        auto* button = qobject_cast<QPushButton*>(widget);
        ASSERT_NE(button, nullptr);
        // Shown exactly as titled: no "&" taken for a keyboard mnemonic.
        EXPECT_EQ(QString(button->text()).replace("&&", "&"), words);
        EXPECT_TRUE(QKeySequence::mnemonic(button->text()).isEmpty());
        EXPECT_EQ(front->buttons.at(words), button);
        break;
      }
      case Kind::status:
        EXPECT_EQ(widget, front->status);
        EXPECT_EQ(front->status->text(), App::idle);
        break;
      case Kind::review:
      case Kind::verified:
        EXPECT_EQ(widget, row.kind == Kind::review ? front->review : front->verified);
        EXPECT_EQ(qobject_cast<QCheckBox*>(widget)->text(), words);
        break;
      case Kind::menu:
        menus.push_back(widget);
        break;
      case Kind::scope:
        EXPECT_EQ(widget, front->scope);
        break;
    }
  }
  EXPECT_EQ(menus, (std::vector<QWidget*>(front->menus.begin(), front->menus.end())));
}

TEST_F(Layout, WindowTitleSizeAndMenus) {
  open();
  EXPECT_EQ(front->window->windowTitle(), "Quillfen · Linux developer preview");
  EXPECT_EQ(front->window->minimumSize(), QSize(720, 500));
  EXPECT_EQ(front->window->size(), QSize(800, 820));
  EXPECT_TRUE(front->window->isVisible());

  QStringList titles;
  for (int i = 0; i < front->menus[0]->count(); ++i)
    titles << front->menus[0]->itemText(i);
  EXPECT_EQ(titles,
            (QStringList{"No action", "Scroll up", "Scroll down", "Space (application shortcut)",
                         "Enter", "F13", "F14", "F15", "F16", "F17", "F18", "F19", "F20"}));
  QStringList scopes;
  for (int i = 0; i < front->scope->count(); ++i)
    scopes << front->scope->itemText(i);
  EXPECT_EQ(scopes,
            (QStringList{"Off (default)", "All mouse buttons: left, middle, right & additional",
                         "Right-click only"}));
}

TEST_F(Layout, ButtonLooks) {
  open();
  const QColor white(Qt::white);
  auto colour = [](QPushButton* button, QPalette::ColorGroup group, QPalette::ColorRole role) {
    return button->palette().color(group, role);
  };
  for (const char* title : {"Start isolated test", "Activate actions"}) {
    QPushButton* button = front->buttons.at(title);
    EXPECT_EQ(colour(button, QPalette::Active, QPalette::Button), accent) << title;
    EXPECT_EQ(colour(button, QPalette::Active, QPalette::ButtonText), white) << title;
    EXPECT_EQ(colour(button, QPalette::Inactive, QPalette::Button), accent) << title;
  }
  for (const char* title : {"Permissions", "Inspect pedal", "Save actions & guard", "Pause actions",
                            "Stop capture", "Setup & recovery guide"}) {
    QPushButton* button = front->buttons.at(title);
    EXPECT_EQ(colour(button, QPalette::Active, QPalette::ButtonText), accent) << title;
    EXPECT_EQ(colour(button, QPalette::Inactive, QPalette::ButtonText), accent) << title;
    EXPECT_NE(colour(button, QPalette::Active, QPalette::Button), accent) << title;
  }
  // Disabled, every button keeps the style's dimmed look.
  for (const auto& [title, button] : front->buttons) {
    EXPECT_NE(colour(button, QPalette::Disabled, QPalette::ButtonText), accent)
        << title.toStdString();
    EXPECT_NE(colour(button, QPalette::Disabled, QPalette::Button), accent) << title.toStdString();
  }
  for (const char* title : {"Learn left", "Learn middle", "Learn right"}) {
    QPushButton* button = front->buttons.at(title);
    EXPECT_FALSE(button->testAttribute(Qt::WA_SetPalette)) << title << " keeps the default look";
  }
  EXPECT_EQ(front->buttons.at("Learn left")->property("tag").toInt(), 0);
  EXPECT_EQ(front->buttons.at("Learn middle")->property("tag").toInt(), 1);
  EXPECT_EQ(front->buttons.at("Learn right")->property("tag").toInt(), 2);
  EXPECT_EQ(QApplication::style()->name().toLower(), "fusion");
}

// WCAG's contrast ratio of two colours.
double contrast(const QColor& a, const QColor& b) {
  auto luminance = [](const QColor& c) {
    auto linear = [](double v) {
      return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
  };
  const double x = luminance(a), y = luminance(b);
  return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

TEST_F(Layout, ProminentButtonsAreFilledWithExactlyTheAccent) {
  open();
  QApplication::processEvents();
  for (const char* title : {"Start isolated test", "Activate actions"}) {
    SCOPED_TRACE(title);
    QPushButton* button = front->buttons.at(title);
    button->setEnabled(true);
    // Taller than its row, the button has rows above and below its title that no glyph reaches,
    // whatever font the desktop gives: the fill is measured there and beside the title, inside
    // the border and its rounded corners, a pixel clear of the title's line box. A gradient would
    // show between the top and the bottom rows.
    button->resize(button->width(), button->height() + 16);
    const QImage image = button->grab().toImage();
    const QRect words = QFontMetrics(button->font())
                            .boundingRect(button->rect(), Qt::AlignCenter, button->text())
                            .adjusted(-2, -1, 2, 1);
    const QRect inner = button->rect().adjusted(4, 3, -4, -3);
    std::map<QRgb, int> colours;
    for (int y = inner.top(); y <= inner.bottom(); ++y)
      for (int x = inner.left(); x <= inner.right(); ++x)
        if (!words.contains(x, y))
          ++colours[image.pixel(x, y)];
    ASSERT_EQ(colours.size(), 1u) << "the fill is not one colour";
    EXPECT_EQ(QColor(colours.begin()->first), QColor(199, 71, 10));
    // The title: drawn in white (its strokes' cores are white, their edges blend into the fill),
    // which reads at 4.5 : 1 or better on the accent.
    int white = 0, light = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QColor pixel = image.pixelColor(x, y);
        white += pixel == Qt::white;
        light += std::min({pixel.red(), pixel.green(), pixel.blue()}) >= 200;
      }
    EXPECT_GT(white, 0) << "no white title";
    EXPECT_GT(light, 20) << "no white title";
    EXPECT_GE(contrast(Qt::white, QColor(199, 71, 10)), 4.5);
  }
}

TEST_F(Layout, MinimumSizeScrollsOnlyVertically) {
  open();
  front->window->resize(720, 500);
  settle();
  QScrollArea* area = scroll();
  ContentStack* stack = column();
  EXPECT_EQ(stack->width(), area->viewport()->width());
  EXPECT_FALSE(area->horizontalScrollBar()->isVisible());
  EXPECT_EQ(area->horizontalScrollBar()->maximum(), 0);
  ASSERT_TRUE(area->verticalScrollBar()->isVisible());
  for (QWidget* row : rows()) {
    EXPECT_LE(row->geometry().right() + 1, stack->width() - 24);
    EXPECT_GE(row->x(), 24);
    if (qobject_cast<QLabel*>(row)) {
      EXPECT_LE(row->width(), stack->width() - 48);
    }
  }

  // The last row comes into view at the bottom of the scroll range.
  area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
  settle();
  QWidget* last = front->buttons.at("Setup & recovery guide");
  const QRect visible(QPoint(0, area->verticalScrollBar()->value()), area->viewport()->size());
  EXPECT_TRUE(visible.contains(last->geometry())) << last->geometry().y();
}

TEST_F(Layout, ColumnIsAnchoredAtTheTop) {
  open();
  front->window->resize(1000, 3000);
  settle();
  const std::vector<QWidget*> all = rows();
  EXPECT_EQ(all.front()->y(), 24);
  EXPECT_FALSE(scroll()->verticalScrollBar()->isVisible());
  for (std::size_t i = 1; i < all.size(); ++i)
    EXPECT_EQ(all[i]->y(), all[i - 1]->geometry().bottom() + 1 + 16) << i;
  EXPECT_LT(all.back()->geometry().bottom(), 3000 - 200) << "free space stays at the bottom";
}

}  // namespace
