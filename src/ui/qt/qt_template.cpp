// Builds a dialog's controls from its template: Qt widgets at the template's rectangles, converted
// from dialog units with the dialog font's metrics as Windows converts them. Only Qt code.
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include "ui/qt/qt_internal.h"

namespace ui::qt {

namespace {

// Windows' MulDiv: the product divided, rounded half away from zero.
int MulDiv(int value, int numerator, int denominator) {
  long long p = static_cast<long long>(value) * numerator;
  long long half = denominator / 2;
  return static_cast<int>(p >= 0 ? (p + half) / denominator : -((-p + half) / denominator));
}

bool IsWindowsDialogFace(const std::string& face) {
  return face == "MS Shell Dlg" || face == "MS Shell Dlg 2" || face == "MS Sans Serif" ||
         face == "Tahoma" || face == "Microsoft YaHei" || face == "SimSun" || face == "宋体";
}

Qt::Alignment LabelAlignment(uint32_t style) {
  Qt::Alignment h = (style & kStyleCenter)  ? Qt::AlignHCenter
                    : (style & kStyleRight) ? Qt::AlignRight
                                            : Qt::AlignLeft;
  return h | Qt::AlignTop;  // a static control writes from its top edge
}

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

}  // namespace

int DialogUnits::X(int dlu) const { return MulDiv(dlu, base_x, 4); }
int DialogUnits::Y(int dlu) const { return MulDiv(dlu, base_y, 8); }

QFont DialogFont(const DialogTemplate& t) {
  QFont font;
  QStringList families;
  if (!IsWindowsDialogFace(t.font_face)) families << Text(t.font_face);
  families << "Noto Sans CJK SC" << "Noto Sans CJK" << "WenQuanYi Micro Hei"
           << "Droid Sans Fallback";
  font.setFamilies(families);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(t.font_points > 0 ? t.font_points : 8);
  int weight = t.font_weight < 1 ? 400 : t.font_weight > 1000 ? 1000 : t.font_weight;
  font.setWeight(static_cast<QFont::Weight>(weight));
  return font;
}

DialogUnits UnitsOf(const QFont& font) {
  // GetDialogBaseUnits' rule across: the width of the 52 letters over 26, halved and rounded.
  QFontMetrics metrics(font);
  int letters = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  DialogUnits u;
  u.base_x = std::max(1, (letters / 26 + 1) / 2);
  // Down, the height Windows' dialog font (Tahoma behind MS Shell Dlg, 2472 units of ascent and
  // descent to its 2048-unit em) has at this pixel size: 13 at 8 pt and 96 dpi, as the layouts
  // were drawn for. The CJK faces' own line spacing (Noto Sans CJK: 1.448 em, 16 px) would make
  // every row a fifth taller, and the main window taller than a 768-line screen's work area.
  int pixels = QFontInfo(font).pixelSize();
  u.base_y = std::max(1, (pixels * 2472 + 1024) / 2048);
  return u;
}

QWidget* QtDialogPeer::MakeControl(const ControlTemplate& c, const QRect& rect, QWidget* parent) {
  const uint32_t s = c.style;
  QWidget* w = nullptr;
  switch (c.kind) {
    case ControlKind::kPushButton: {
      auto* b = new QPushButton(Text(c.text), parent);
      b->setDefault((s & kStyleDefault) != 0);
      w = b;
      break;
    }
    case ControlKind::kCheckBox:
      w = new QCheckBox(Text(c.text), parent);
      break;
    case ControlKind::kRadioButton: {
      auto* r = new QRadioButton(Text(c.text), parent);
      // The group's rule (a click checks one, the program may set any) is ours, as on Windows.
      r->setAutoExclusive(false);
      w = r;
      break;
    }
    case ControlKind::kGroupBox: {
      auto* g = new QGroupBox(Text(c.text), parent);
      // A frame only: clicks fall through to the controls and the window behind it.
      g->setAttribute(Qt::WA_TransparentForMouseEvents);
      // The title sits in the frame's top line, as a Windows group box draws it.
      g->setStyleSheet(QString("QGroupBox { border: 1px solid palette(mid); border-radius: 2px;"
                               " margin-top: %1px; }"
                               "QGroupBox::title { subcontrol-origin: margin; left: %2px;"
                               " padding: 0 2px; }")
                           .arg(units_.Y(4))
                           .arg(units_.X(2)));
      w = g;
      break;
    }
    case ControlKind::kStatic: {
      auto* l = new QLabel(Text(c.text), parent);
      l->setTextFormat(Qt::PlainText);  // reader and server texts are shown, never interpreted
      l->setAlignment(LabelAlignment(s));
      l->setWordWrap(true);
      if (s & kStyleBorder) l->setFrameStyle(QFrame::Box | QFrame::Plain);
      w = l;
      break;
    }
    case ControlKind::kEdit:
      if (s & kStyleMultiLine) {
        auto* e = new QPlainTextEdit(Text(c.text), parent);
        e->setLineWrapMode((s & kStyleAutoHScroll) ? QPlainTextEdit::NoWrap
                                                   : QPlainTextEdit::WidgetWidth);
        e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        e->setVerticalScrollBarPolicy((s & kStyleVScroll) ? Qt::ScrollBarAsNeeded
                                                          : Qt::ScrollBarAlwaysOff);
        e->setReadOnly((s & kStyleReadOnly) != 0);
        e->setTabChangesFocus(true);
        w = e;
      } else {
        auto* e = new QLineEdit(Text(c.text), parent);
        if (s & kStyleDigitsOnly) {
          // Typing takes digits only; the program may still set any text, as on Windows.
          e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
        }
        e->setReadOnly((s & kStyleReadOnly) != 0);
        w = e;
      }
      break;
    case ControlKind::kComboBox: {
      auto* b = new QComboBox(parent);
      b->setEditable(true);
      b->setInsertPolicy(QComboBox::NoInsert);  // typed text is not a new list entry
      b->lineEdit()->setCompleter(nullptr);     // nor completed from the list
      b->setMaxVisibleItems(std::max(1, (rect.height() / std::max(1, units_.Y(8))) - 1));
      w = b;
      break;
    }
    case ControlKind::kUpDown:
      w = new UpDownWidget(parent);
      break;
    case ControlKind::kProgressBar: {
      auto* p = new ProgressBarWidget(parent);
      p->setRange(0, 100);
      p->setValue(0);
      p->setTextVisible(false);  // until the program gives it a line to show
      w = p;
      break;
    }
  }
  QRect r = rect;
  if (c.kind == ControlKind::kComboBox) {
    // The template's height is the dropped list's; the closed box is as tall as its text needs.
    r.setHeight(std::min(rect.height(), w->sizeHint().height()));
  } else if (c.kind == ControlKind::kStatic || c.kind == ControlKind::kCheckBox ||
             c.kind == ControlKind::kRadioButton) {
    // Rows are spaced for Windows' shorter line: a line of the CJK face, a few pixels taller,
    // reaches into the gap below instead of losing its foot.
    r.setHeight(std::max(rect.height(), w->fontMetrics().height()));
  }
  w->setGeometry(r);
  w->setEnabled(!(s & kStyleDisabled));
  if (s & kStyleHidden) w->hide();
  return w;
}

void QtDialogPeer::BuildControls(const DialogTemplate& t) {
  QWidget* parent = widget_.data();
  QWidget* previous = nullptr;
  std::vector<QWidget*> frames;
  for (size_t i = 0; i < t.controls.size(); ++i) {
    const ControlTemplate& c = t.controls[i];
    QRect rect(units_.X(c.x), units_.Y(c.y), units_.X(c.x + c.cx) - units_.X(c.x),
               units_.Y(c.y + c.cy) - units_.Y(c.y));
    QWidget* w = MakeControl(c, rect, parent);
    if (c.kind == ControlKind::kGroupBox) frames.push_back(w);
    if (c.id != kStaticId && controls_.count(c.id) == 0) {
      Control& control = controls_[c.id];
      control.kind = c.kind;
      control.style = c.style;
      control.widget = w;
      w->setProperty("ovra7_id", c.id);
      w->setObjectName(QString("item%1").arg(c.id));
      Connect(c.id, control);
      if (c.kind == ControlKind::kUpDown && (c.style & kStyleAutoBuddy) && previous) {
        int buddy = previous->property("ovra7_id").isValid()
                        ? previous->property("ovra7_id").toInt()
                        : 0;
        if (buddy) SetUpDownBuddy(c.id, buddy);
      }
    }
    previous = w;
  }
  // Group boxes lie beneath the controls they frame, whatever the order of the rows.
  for (QWidget* frame : frames) frame->lower();
}

}  // namespace ui::qt
