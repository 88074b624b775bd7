#include "platform/ui/controls.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QIcon>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "platform/ui/qt_support.h"
#include "platform/text.h"
#include "platform/ui/resources.h"

namespace platform::ui {

// ---------------------------------------------------------------------------
// Control

Control::Control() : guard_(new QObject) {}

Control::~Control() { delete guard_; }

bool Control::create(const ControlTemplate& control, Window& parent, const Rect& rect) {
  if (!parent.exists() || exists()) return false;
  id_ = control.id;
  style_ = control.style;
  parent_ = parent.handle();
  QWidget* widget = makeWidget(parent.widget(), control);
  if (rect.width() > 0 && rect.height() > 0) {
    widget->setGeometry(rect.left, rect.top, rect.width(), rect.height());
  } else {
    widget->move(rect.left, rect.top);  // sized by its content (icons)
  }
  widget->setEnabled((control.style & style::disabled) == 0);
  widget->setVisible((control.style & style::hidden) == 0);
  attachWidget(widget);
  return true;
}

void Control::notifyCommand(uint16_t code) {
  sendMessage(parent_, WM_COMMAND, makeWParam(static_cast<uint16_t>(id_), code), static_cast<LParam>(handle().value));
}

LResult Control::notifyParent(NotifyHeader& header) {
  header.from = handle();
  header.idFrom = static_cast<uint32_t>(id_);
  return sendMessage(parent_, WM_NOTIFY, static_cast<WParam>(id_), reinterpret_cast<LParam>(&header));
}

void Control::notifyScroll(bool vertical, uint16_t code, int position) {
  sendMessage(parent_, vertical ? WM_VSCROLL : WM_HSCROLL, makeWParam(code, static_cast<uint16_t>(position)),
              static_cast<LParam>(handle().value));
}

std::unique_ptr<Control> Control::make(ControlKind kind) {
  switch (kind) {
    case ControlKind::staticText:
      return std::make_unique<StaticText>();
    case ControlKind::groupBox:
      return std::make_unique<GroupBox>();
    case ControlKind::pushButton:
    case ControlKind::checkBox:
    case ControlKind::radioButton:
      return std::make_unique<Button>();
    case ControlKind::comboBox:
      return std::make_unique<ComboBox>();
    case ControlKind::listView:
      return std::make_unique<ListView>();
    case ControlKind::treeView:
      return std::make_unique<TreeView>();
    case ControlKind::trackBar:
      return std::make_unique<TrackBar>();
    case ControlKind::progressBar:
      return std::make_unique<ProgressBar>();
    case ControlKind::edit:
      return std::make_unique<Edit>();
    case ControlKind::spin:
      return std::make_unique<Spin>();
    case ControlKind::hyperLink:
      return std::make_unique<HyperLink>();
    case ControlKind::icon:
      return std::make_unique<IconView>();
  }
  return nullptr;
}

void setToolTip(WindowHandle window, std::u16string_view text) {
  if (Window* target = windowFromHandle(window)) target->widget()->setToolTip(toQString(text));
}

// ---------------------------------------------------------------------------
// Static text and group box

QWidget* StaticText::makeWidget(QWidget* parent, const ControlTemplate& control) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  Qt::Alignment alignment = Qt::AlignTop | Qt::AlignLeft;
  if ((control.style & style::centre) != 0) alignment = (alignment & ~Qt::AlignHorizontal_Mask) | Qt::AlignHCenter;
  if ((control.style & style::rightAligned) != 0) alignment = (alignment & ~Qt::AlignHorizontal_Mask) | Qt::AlignRight;
  if ((control.style & style::centreVertically) != 0) alignment = (alignment & ~Qt::AlignVertical_Mask) | Qt::AlignVCenter;
  label->setAlignment(alignment);
  if ((control.style & style::staticEdge) != 0) label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setText(labelText(control.text));
  return label;
}

void StaticText::setText(std::u16string_view text) {
  if (auto* label = qobject_cast<QLabel*>(widget())) label->setText(labelText(text));
}

std::u16string StaticText::text() const {
  auto* label = qobject_cast<QLabel*>(widget());
  return label != nullptr ? fromQString(label->text()) : std::u16string();
}

bool StaticText::translateEvent(QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease && (style() & style::notify) != 0) {
    notifyCommand(STN_CLICKED);
    return true;
  }
  if (event->type() == QEvent::Paint) applyParentColours();
  return Control::translateEvent(event);
}

// Before each paint the parent may choose the colours (WM_CTLCOLORSTATIC);
// the palette changes only when they differ, so painting does not repeat.
void StaticText::applyParentColours() {
  auto* label = qobject_cast<QLabel*>(widget());
  if (label == nullptr) return;
  const auto* colours =
      reinterpret_cast<const StaticColours*>(sendMessage(parent(), WM_CTLCOLORSTATIC, 0, static_cast<LParam>(handle().value)));
  if (colours == nullptr) return;
  QPalette palette = label->palette();
  const QColor background = toQColor(colours->backgroundColour);
  const QColor text = toQColor(colours->textColour);
  if (label->autoFillBackground() && palette.color(QPalette::Window) == background &&
      palette.color(QPalette::WindowText) == text) {
    return;
  }
  palette.setColor(QPalette::Window, background);
  palette.setColor(QPalette::WindowText, text);
  label->setAutoFillBackground(true);
  label->setPalette(palette);
}

Colour StaticText::backgroundColour() const {
  auto* label = qobject_cast<QLabel*>(widget());
  return label != nullptr && label->autoFillBackground() ? fromQColor(label->palette().color(QPalette::Window))
                                                         : rgb(255, 255, 255);
}

QWidget* GroupBox::makeWidget(QWidget* parent, const ControlTemplate& control) {
  auto* box = new QGroupBox(labelText(control.text), parent);
  box->lower();
  return box;
}

void GroupBox::setText(std::u16string_view text) {
  if (auto* box = qobject_cast<QGroupBox*>(widget())) box->setTitle(labelText(text));
}

std::u16string GroupBox::text() const {
  auto* box = qobject_cast<QGroupBox*>(widget());
  return box != nullptr ? fromQString(box->title()) : std::u16string();
}

// ---------------------------------------------------------------------------
// Buttons

namespace {

// A push button whose text wraps inside it.
QPushButton* makeWrappingPushButton(QWidget* parent, const QString& text) {
  auto* button = new QPushButton(parent);
  auto* label = new QLabel(text, button);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignCenter);
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  auto* layout = new QHBoxLayout(button);
  layout->setContentsMargins(4, 2, 4, 2);
  layout->addWidget(label);
  return button;
}

}  // namespace

QWidget* Button::makeWidget(QWidget* parent, const ControlTemplate& control) {
  const QString text = windowsText(control.text);
  const bool multiLine = (control.style & style::multiLine) != 0;
  QWidget* widget = nullptr;
  if (control.kind == ControlKind::pushButton || (control.style & style::pushLike) != 0) {
    auto* push = multiLine ? makeWrappingPushButton(parent, labelText(control.text)) : new QPushButton(text, parent);
    push->setCheckable(control.kind != ControlKind::pushButton);
    push->setAutoDefault(false);
    push->setDefault((control.style & style::defaultButton) != 0);
    button_ = push;
    widget = push;
  } else {
    QAbstractButton* box = nullptr;
    if (control.kind == ControlKind::radioButton) {
      auto* radio = new QRadioButton(multiLine ? QString() : text);
      radio->setAutoExclusive(false);
      box = radio;
    } else {
      box = new QCheckBox(multiLine ? QString() : text);
    }
    button_ = box;
    if (multiLine) {
      // Check and radio buttons do not wrap: the text goes beside the mark.
      auto* container = new QWidget(parent);
      auto* layout = new QHBoxLayout(container);
      layout->setContentsMargins(0, 0, 0, 0);
      layout->addWidget(box, 0, (control.style & style::textTop) != 0 ? Qt::AlignTop : Qt::AlignVCenter);
      wrappedText_ = new QLabel(labelText(control.text), container);
      wrappedText_->setWordWrap(true);
      wrappedText_->setAlignment(Qt::AlignLeft | ((control.style & style::textTop) != 0 ? Qt::AlignTop : Qt::AlignVCenter));
      layout->addWidget(wrappedText_, 1);
      widget = container;
    } else {
      box->setParent(parent);
      widget = box;
    }
  }
  const bool automatic = (control.style & style::automatic) != 0 || control.kind == ControlKind::pushButton;
  QObject::connect(button_, &QAbstractButton::clicked, guard(), [this, automatic](bool checked) {
    QtCallbackScope scope;
    if (!automatic && button_->isCheckable()) {
      const QSignalBlocker block(button_);
      button_->setChecked(!checked);  // buttons that are not automatic keep their state
    }
    notifyCommand(BN_CLICKED);
  });
  if (wrappedText_ != nullptr) {
    // Clicking the text of a multi-line button clicks the button.
    class TextClicks final : public QObject {
     public:
      explicit TextClicks(QAbstractButton* target) : target_(target) {}
      bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease && target_->isEnabled()) target_->click();
        return false;
      }

     private:
      QAbstractButton* target_;
    };
    auto* clicks = new TextClicks(button_);
    clicks->setParent(wrappedText_);
    wrappedText_->installEventFilter(clicks);
  }
  return widget;
}

void Button::setText(std::u16string_view text) {
  if (button_ == nullptr) return;
  if (wrappedText_ != nullptr) {
    wrappedText_->setText(labelText(text));
  } else if (auto* label = button_->findChild<QLabel*>()) {
    label->setText(labelText(text));
  } else {
    button_->setText(windowsText(text));
  }
}

void Button::setIcon(const Icon& icon) {
  if (button_ != nullptr) button_->setIcon(icon.isNull() ? QIcon() : icon.qIcon());
}

bool Button::hasIcon() const { return button_ != nullptr && !button_->icon().isNull(); }

std::u16string Button::text() const {
  if (button_ == nullptr) return {};
  if (wrappedText_ != nullptr) return fromQString(wrappedText_->text());
  if (auto* label = button_->findChild<QLabel*>()) return fromQString(label->text());
  return fromQString(button_->text());
}

bool Button::isChecked() const { return button_ != nullptr && button_->isChecked(); }

void Button::setChecked(bool checked) {
  if (button_ == nullptr || !button_->isCheckable()) return;
  const QSignalBlocker block(button_);
  if (!checked && group_ != nullptr && group_->exclusive()) {
    group_->setExclusive(false);
    button_->setChecked(false);
    group_->setExclusive(true);
    return;
  }
  button_->setChecked(checked);
}

void Button::click() {
  if (button_ != nullptr && button_->isEnabled()) button_->click();
}

void Button::joinGroup(QButtonGroup* group) {
  group_ = group;
  if (button_ != nullptr) group->addButton(button_);
}

// ---------------------------------------------------------------------------
// Combo box

QWidget* ComboBox::makeWidget(QWidget* parent, const ControlTemplate&) {
  combo_ = new QComboBox(parent);
  combo_->setEditable(false);
  QObject::connect(combo_, qOverload<int>(&QComboBox::activated), guard(), [this](int) {
    QtCallbackScope scope;
    notifyCommand(CBN_SELCHANGE);
  });
  return combo_;
}

int ComboBox::addString(std::u16string_view text) {
  const QString entry = toQString(text);
  int position = combo_->count();
  if ((style() & style::sorted) != 0) {
    position = 0;
    while (position < combo_->count() && QString::compare(combo_->itemText(position), entry, Qt::CaseInsensitive) <= 0) {
      ++position;
    }
  }
  const int selected = combo_->currentIndex();
  combo_->insertItem(position, entry);
  // Inserting selects nothing new.
  if (selected < 0) combo_->setCurrentIndex(-1);
  return position;
}

void ComboBox::resetContent() { combo_->clear(); }

int ComboBox::count() const { return combo_->count(); }

int ComboBox::currentSelection() const { return combo_->currentIndex(); }

bool ComboBox::setCurrentSelection(int position) {
  if (position >= combo_->count()) return false;
  combo_->setCurrentIndex(position < 0 ? -1 : position);
  return position >= 0;
}

LParam ComboBox::itemData(int position) const {
  if (position < 0 || position >= combo_->count()) return -1;
  return static_cast<LParam>(combo_->itemData(position).toLongLong());
}

bool ComboBox::setItemData(int position, LParam data) {
  if (position < 0 || position >= combo_->count()) return false;
  combo_->setItemData(position, QVariant::fromValue(static_cast<qlonglong>(data)));
  return true;
}

std::u16string ComboBox::itemText(int position) const {
  if (position < 0 || position >= combo_->count()) return {};
  return fromQString(combo_->itemText(position));
}

int ComboBox::findStringExact(std::u16string_view text) const {
  const QString wanted = toQString(text);
  for (int i = 0; i < combo_->count(); ++i) {
    if (QString::compare(combo_->itemText(i), wanted, Qt::CaseInsensitive) == 0) return i;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Edit and spin

QWidget* Edit::makeWidget(QWidget* parent, const ControlTemplate& control) {
  edit_ = new QLineEdit(toQString(control.text), parent);
  if ((control.style & style::number) != 0) {
    edit_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit_));
  }
  QObject::connect(edit_, &QLineEdit::textChanged, guard(), [this] {
    QtCallbackScope scope;
    notifyCommand(EN_CHANGE);
  });
  return edit_;
}

void Edit::setText(std::u16string_view text) { edit_->setText(toQString(text)); }

std::u16string Edit::text() const { return fromQString(edit_->text()); }

bool Edit::translateEvent(QEvent* event) {
  if (event->type() == QEvent::FocusOut) notifyCommand(EN_KILLFOCUS);
  if (event->type() == QEvent::FocusIn) notifyCommand(EN_SETFOCUS);
  return Control::translateEvent(event);
}

// The buddy edit's up and down keys move the spin.
class SpinKeys final : public QObject {
 public:
  explicit SpinKeys(Spin* spin) : spin_(spin) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Up && key != Qt::Key_Down) return false;
    QtCallbackScope scope;
    spin_->step(key == Qt::Key_Up ? 1 : -1);
    return true;
  }

 private:
  Spin* spin_;
};

QWidget* Spin::makeWidget(QWidget* parent, const ControlTemplate&) {
  auto* arrows = new QWidget(parent);
  auto* layout = new QVBoxLayout(arrows);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (const int direction : {1, -1}) {
    auto* arrow = new QToolButton(arrows);
    arrow->setArrowType(direction > 0 ? Qt::UpArrow : Qt::DownArrow);
    arrow->setAutoRepeat(true);
    arrow->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layout->addWidget(arrow);
    QObject::connect(arrow, &QToolButton::clicked, guard(), [this, direction] {
      QtCallbackScope scope;
      step(direction);
    });
  }
  return arrows;
}

void Spin::setBuddy(Edit* buddy) {
  buddy_ = buddy;
  if (buddy_ != nullptr && (style() & style::arrowKeys) != 0) {
    auto* keys = new SpinKeys(this);
    keys->setParent(guard());  // ends with the spin
    buddy_->widget()->installEventFilter(keys);
  }
}

void Spin::setRange(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = maximum;
  setPosition(position_);
}

void Spin::setPosition(int position) {
  position_ = std::clamp(position, std::min(minimum_, maximum_), std::max(minimum_, maximum_));
  if (buddy_ != nullptr && (style() & style::setBuddyNumber) != 0) buddy_->setText(toWide(std::to_string(position_)));
}

void Spin::step(int direction) {
  // The buddy's number is the starting point when the user typed one.
  if (buddy_ != nullptr && (style() & style::setBuddyNumber) != 0) {
    bool ok = false;
    const int typed = toQString(buddy_->text()).toInt(&ok);
    if (ok) position_ = typed;
  }
  const int before = position_;
  setPosition(position_ + (minimum_ <= maximum_ ? direction : -direction));
  if (position_ != before) notifyScroll(true, SB_THUMBPOSITION, position_);
}

// ---------------------------------------------------------------------------
// Track bar and progress bar

namespace {

uint16_t scrollCode(int action) {
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
      return SB_LINEDOWN;
    case QAbstractSlider::SliderSingleStepSub:
      return SB_LINEUP;
    case QAbstractSlider::SliderPageStepAdd:
      return SB_PAGEDOWN;
    case QAbstractSlider::SliderPageStepSub:
      return SB_PAGEUP;
    case QAbstractSlider::SliderToMinimum:
      return SB_TOP;
    case QAbstractSlider::SliderToMaximum:
      return SB_BOTTOM;
    default:
      return SB_THUMBTRACK;
  }
}

}  // namespace

QWidget* TrackBar::makeWidget(QWidget* parent, const ControlTemplate& control) {
  const bool vertical = (control.style & style::vertical) != 0;
  slider_ = new QSlider(vertical ? Qt::Vertical : Qt::Horizontal, parent);
  // The minimum is at the top of a vertical track bar.
  slider_->setInvertedAppearance(vertical);
  slider_->setInvertedControls(vertical);
  if ((control.style & style::autoTicks) != 0) {
    slider_->setTickPosition((control.style & style::bothTicks) != 0 ? QSlider::TicksBothSides
                                                                      : QSlider::TicksBelow);
    slider_->setTickInterval(1);
  }
  QObject::connect(slider_, &QAbstractSlider::actionTriggered, guard(), [this, vertical](int action) {
    if (action == QAbstractSlider::SliderNoAction) return;
    QtCallbackScope scope;
    notifyScroll(vertical, scrollCode(action), slider_->sliderPosition());
  });
  QObject::connect(slider_, &QAbstractSlider::sliderReleased, guard(), [this, vertical] {
    QtCallbackScope scope;
    notifyScroll(vertical, SB_THUMBPOSITION, slider_->sliderPosition());
    notifyScroll(vertical, SB_ENDSCROLL, slider_->sliderPosition());
  });
  return slider_;
}

void TrackBar::setRange(int minimum, int maximum) {
  const QSignalBlocker block(slider_);
  slider_->setRange(minimum, maximum);
}
int TrackBar::minimum() const { return slider_->minimum(); }
int TrackBar::maximum() const { return slider_->maximum(); }

void TrackBar::setPosition(int position) {
  const QSignalBlocker block(slider_);
  slider_->setValue(position);
}

int TrackBar::position() const { return slider_->sliderPosition(); }

void TrackBar::setTickFrequency(int frequency) { slider_->setTickInterval(frequency); }

void TrackBar::moveTo(int position, uint16_t code) {
  setPosition(position);
  notifyScroll((style() & style::vertical) != 0, code, slider_->sliderPosition());
}

QWidget* ProgressBar::makeWidget(QWidget* parent, const ControlTemplate& control) {
  bar_ = new QProgressBar(parent);
  bar_->setTextVisible(false);
  bar_->setOrientation((control.style & style::vertical) != 0 ? Qt::Vertical : Qt::Horizontal);
  bar_->setRange(0, 100);
  bar_->setValue(0);
  return bar_;
}

void ProgressBar::setRange(int minimum, int maximum) { bar_->setRange(minimum, maximum); }
void ProgressBar::setPosition(int position) { bar_->setValue(std::clamp(position, bar_->minimum(), bar_->maximum())); }
int ProgressBar::position() const { return bar_->value(); }
int ProgressBar::minimum() const { return bar_->minimum(); }
int ProgressBar::maximum() const { return bar_->maximum(); }

// ---------------------------------------------------------------------------
// Hyperlink and icon

QWidget* HyperLink::makeWidget(QWidget* parent, const ControlTemplate& control) {
  label_ = new QLabel(parent);
  label_->setTextFormat(Qt::RichText);
  label_->setOpenExternalLinks(true);
  label_->setTextInteractionFlags(Qt::TextBrowserInteraction);
  text_ = std::u16string(control.text);
  label_->setText(labelText(text_).toHtmlEscaped());
  return label_;
}

void HyperLink::setLink(std::u16string_view text, std::u16string_view url) {
  text_ = std::u16string(text);
  url_ = std::u16string(url);
  label_->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                      .arg(toQString(url).toHtmlEscaped(), labelText(text).toHtmlEscaped()));
}

void HyperLink::setText(std::u16string_view text) {
  if (url_.empty()) {
    text_ = std::u16string(text);
    label_->setText(labelText(text).toHtmlEscaped());
  } else {
    setLink(text, url_);
  }
}

std::u16string HyperLink::text() const { return text_; }

QWidget* IconView::makeWidget(QWidget* parent, const ControlTemplate& control) {
  label_ = new QLabel(parent);
  label_->setAlignment(Qt::AlignCenter);
  bool isNumber = false;
  const int resource = toQString(control.text).toInt(&isNumber);
  if (isNumber) setIcon(loadIcon(resource));
  return label_;
}

void IconView::setIcon(const Icon& icon) {
  if (icon.isNull()) {
    label_->clear();
    return;
  }
  label_->setPixmap(icon.qIcon().pixmap(32, 32));
  label_->resize(32, 32);
}

}  // namespace platform::ui
