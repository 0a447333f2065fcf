// SPDX-License-Identifier: Apache-2.0
#include "app/settings/settingsFile.h"

#include <QSettings>
#include <QString>
#include <QStringList>

#include "app/settings/locations.h"
#include "base/SysUtils.h"
#include "platform/Encoding.h"
#include "platform/Paths.h"

TSettingsFile TSettingsFile::Read() { return ReadFrom(SettingsFilePath()); }

TSettingsFile TSettingsFile::ReadFrom(const std::string& ansiPath) {
    TSettingsFile file;
    QSettings ini(QString::fromStdString(FsPath(ansiPath)), QSettings::IniFormat);
    for (const QString& key : ini.allKeys()) {
        const QVariant v = ini.value(key);
        // Unquoted commas make the ini reader split a value into a list: join it back.
        const QString text = v.typeId() == QMetaType::QStringList ? v.toStringList().join(',') : v.toString();
        file.values_[QStringToAnsi(key)] = Trim(QStringToAnsi(text));
    }
    return file;
}

std::string TSettingsFile::Value(const std::string& section, const std::string& key) const {
    const auto it = values_.find(section + "/" + key);
    return it == values_.end() ? std::string() : it->second;
}
