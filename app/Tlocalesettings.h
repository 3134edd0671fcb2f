// The user's number and date settings for the workbook engine, read from
// the desktop's locale. The engine never reads the process locale itself;
// the program installs this source once at start-up.
#pragma once

#include "workbook/storage/UKmrMessages.h"

#include <QLocale>
#include <QString>

// A Qt date or time format in the engine's letters: M → m (month), m → n
// (minutes), H → h, AP/ap → AMPM/ampm; quoted text stays quoted.
QString EngineDateTimeFormat(const QString& qtFormat);

// The engine's settings record filled from a locale.
kalmira::TFormatSettings LocaleFormatSettings(const QLocale& locale);

// The locale the user's numbers follow: the environment's LC_ALL, else
// LC_NUMERIC, else LANG, as the C library chooses (C when none is set);
// "cs_CZ.UTF-8" and the like name the language and territory.
QLocale NumericLocale();

// Reports the system locale's settings whenever the engine asks, with the
// separators of NumericLocale.
class TLocaleSettingsSource : public kalmira::IFormatSettingsSource {
public:
    kalmira::TFormatSettings LocaleSettings() const override;
};

// Installs TLocaleSettingsSource as the engine's source.
void UseDesktopLocaleSettings();
