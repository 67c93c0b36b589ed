#include "platform/gui/uFormStorage.h"

#include "platform/uIniStore.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <optional>

namespace {
// Far beyond any screen, but small enough that no rectangle arithmetic overflows.
constexpr int kCoordinateLimit = 100000;

std::optional<int> ReadInt(const TIniStore& store, const QString& section, const char* key) {
  if (const std::optional<QString> text = store.Value(section, QString::fromLatin1(key)))
    return ParseDecimalInteger(*text);
  return std::nullopt;
}

void WriteInt(TIniStore& store, const QString& section, const QString& key, int value) {
  store.SetValue(section, key, QString::number(value));
}
} // namespace

TFormStorage::TFormStorage(QWidget* form) : QObject(form), m_form(form) {}

void TFormStorage::AddIntegerProperty(const QString& name, std::function<int()> get,
                                      std::function<void(int)> set) {
  m_properties.append({name, std::move(get), std::move(set)});
}

QString TFormStorage::Section() const {
  return m_form->objectName();
}

QRect TFormStorage::FitOnScreens(const QRect& wanted, const QList<QRect>& screens) {
  if (screens.isEmpty() || !wanted.isValid()) return wanted;
  // Seen and grabbable: a good piece of the window, its top edge included, is on a screen.
  for (const QRect& screen : screens) {
    const QRect common = screen.intersected(wanted);
    const bool topOnScreen = wanted.top() >= screen.top() && wanted.top() <= screen.bottom() - 40;
    if (topOnScreen && common.width() >= std::min(100, wanted.width()) &&
        common.height() >= std::min(40, wanted.height())) {
      QRect fitted = wanted;
      fitted.setSize(wanted.size().boundedTo(screen.size()));
      return fitted;
    }
  }
  // Lost (a screen that is gone, a stored value far off): centred on the primary screen.
  const QRect& primary = screens.first();
  QRect fitted(QPoint(0, 0), wanted.size().boundedTo(primary.size()));
  fitted.moveCenter(primary.center());
  return fitted;
}

void TFormStorage::RestorePlacement() {
  TIniStore* store = m_provider ? m_provider() : nullptr;
  if (!store) return;
  const QString section = Section();

  const auto left = ReadInt(*store, section, KeyLeft);
  const auto top = ReadInt(*store, section, KeyTop);
  const auto width = ReadInt(*store, section, KeyWidth);
  const auto height = ReadInt(*store, section, KeyHeight);
  const auto state = ReadInt(*store, section, KeyWindowState);

  if (left && top && width && height && *width > 0 && *height > 0) {
    QRect wanted(std::clamp(*left, -kCoordinateLimit, kCoordinateLimit),
                 std::clamp(*top, -kCoordinateLimit, kCoordinateLimit),
                 std::min(*width, kCoordinateLimit), std::min(*height, kCoordinateLimit));
    QList<QRect> screens;
    if (QScreen* primary = QGuiApplication::primaryScreen())
      screens.append(primary->availableGeometry());
    for (QScreen* screen : QGuiApplication::screens())
      if (screen != QGuiApplication::primaryScreen()) screens.append(screen->availableGeometry());
    // The normal geometry is set while the window is normal, then the state on top of it, so
    // that un-maximising later returns to the stored size.
    const Qt::WindowStates designed = m_form->windowState();
    m_form->setWindowState(designed & ~(Qt::WindowMaximized | Qt::WindowMinimized));
    m_form->setGeometry(FitOnScreens(wanted, screens));
    m_form->setWindowState(designed);
  }
  if (state) {
    // A window minimised when it closed comes back normal: a program that starts hidden
    // looks like one that did not start.
    Qt::WindowStates s = m_form->windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized);
    if (*state == 2) s |= Qt::WindowMaximized;
    m_form->setWindowState(s);
  }
  for (const TProperty& property : m_properties)
    if (const std::optional<QString> text = store->Value(section, property.name))
      if (const std::optional<int> value = ParseDecimalInteger(*text)) property.set(*value);
}

void TFormStorage::SavePlacement() {
  TIniStore* store = m_provider ? m_provider() : nullptr;
  if (!store) return;
  const QString section = Section();
  const Qt::WindowStates states = m_form->windowState();
  const QRect normal = (states & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen))
                           ? m_form->normalGeometry()
                           : m_form->geometry();
  if (normal.isValid()) {
    WriteInt(*store, section, QString::fromLatin1(KeyLeft), normal.left());
    WriteInt(*store, section, QString::fromLatin1(KeyTop), normal.top());
    WriteInt(*store, section, QString::fromLatin1(KeyWidth), normal.width());
    WriteInt(*store, section, QString::fromLatin1(KeyHeight), normal.height());
  }
  const int state = (states & (Qt::WindowMaximized | Qt::WindowFullScreen)) ? 2
                    : (states & Qt::WindowMinimized)                        ? 1
                                                                            : 0;
  WriteInt(*store, section, QString::fromLatin1(KeyWindowState), state);
  for (const TProperty& property : m_properties)
    WriteInt(*store, section, property.name, property.get());
}
