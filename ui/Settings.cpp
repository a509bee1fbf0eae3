#include "Settings.h"

#include <QSettings>
#include <QStringList>
#include <QWidget>

#include <optional>

namespace {

std::optional<int> ReadInt(QSettings& Settings, const QString& Name) {
    const QVariant Value = Settings.value(Name);
    bool Ok = false;
    const int Number = Value.toInt(&Ok);
    if (!Value.isValid() || !Ok)
        return std::nullopt;
    return Number;
}

} // namespace

std::unique_ptr<QSettings> OpenRegKey(const QString& Key) {
    QStringList Parts = Key.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (Parts.size() < 3 || Parts[0].compare(QLatin1String("Software"), Qt::CaseInsensitive) != 0)
        return nullptr;
    auto Settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                Parts[1], Parts[2]);
    Parts.erase(Parts.begin(), Parts.begin() + 3);
    if (!Parts.isEmpty())
        Settings->beginGroup(Parts.join(QLatin1Char('/')));
    return Settings;
}

QString ReadRegString(const QString& Key, const QString& Name) {
    const std::unique_ptr<QSettings> Settings = OpenRegKey(Key);
    if (!Settings)
        return QString();
    return Settings->value(Name).toString();
}

void WriteRegString(const QString& Key, const QString& Name, const QString& Value) {
    if (const std::unique_ptr<QSettings> Settings = OpenRegKey(Key))
        Settings->setValue(Name, Value);
}

bool ReadRegBool(const QString& Key, const QString& Name) {
    return ReadRegString(Key, Name) == QStringLiteral("1");
}

void WriteRegBool(const QString& Key, const QString& Name, bool Value) {
    WriteRegString(Key, Name, Value ? QStringLiteral("1") : QStringLiteral("0"));
}

void RestoreFormPlacement(const QString& Key, QWidget* Form, bool PositionOnly) {
    const std::unique_ptr<QSettings> Settings = OpenRegKey(Key);
    if (!Settings)
        return;
    if (const auto Top = ReadInt(*Settings, QStringLiteral("Top")))
        Form->move(Form->x(), *Top);
    if (const auto Left = ReadInt(*Settings, QStringLiteral("Left")))
        Form->move(*Left, Form->y());
    if (PositionOnly)
        return;
    if (const auto Width = ReadInt(*Settings, QStringLiteral("Width")))
        Form->resize(*Width, Form->height());
    if (const auto Height = ReadInt(*Settings, QStringLiteral("Height")))
        Form->resize(Form->width(), *Height);
    if (const auto State = ReadInt(*Settings, QStringLiteral("WindowState"))) {
        const Qt::WindowStates Others =
            Form->windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized);
        if (*State == 0)
            Form->setWindowState(Others);
        else if (*State == 1)
            Form->setWindowState(Others | Qt::WindowMaximized);
    }
}

void SaveFormPlacement(const QString& Key, QWidget* Form) {
    const std::unique_ptr<QSettings> Settings = OpenRegKey(Key);
    if (!Settings)
        return;
    const Qt::WindowStates State = Form->windowState();
    if (State & Qt::WindowMinimized)
        return;
    if (State & Qt::WindowMaximized) {
        Settings->setValue(QStringLiteral("WindowState"), 1);
        return;
    }
    Settings->setValue(QStringLiteral("Top"), Form->y());
    Settings->setValue(QStringLiteral("Left"), Form->x());
    Settings->setValue(QStringLiteral("Width"), Form->width());
    Settings->setValue(QStringLiteral("Height"), Form->height());
    Settings->setValue(QStringLiteral("WindowState"), 0);
}
