#include "app/Tlocalesettings.h"

#include <memory>

namespace {

std::u16string Text(const QString& s) { return s.toStdU16String(); }

char16_t Char(const QString& s, char16_t fallback) { return s.size() == 1 ? s.at(0).unicode() : fallback; }

}  // namespace

QString EngineDateTimeFormat(const QString& qtFormat) {
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < qtFormat.size(); ++i) {
        const QChar c = qtFormat.at(i);
        if (c == u'\'') {
            quoted = !quoted;
            out += u'"';
        } else if (quoted) {
            out += c;
        } else if (c == u'M') {
            out += u'm';
        } else if (c == u'm') {
            out += u'n';
        } else if (c == u'H') {
            out += u'h';
        } else if ((c == u'A' || c == u'a') && i + 1 < qtFormat.size() &&
                   (qtFormat.at(i + 1) == u'P' || qtFormat.at(i + 1) == u'p')) {
            out += c == u'A' ? QStringLiteral("AMPM") : QStringLiteral("ampm");
            ++i;
        } else if (c == u't') {
            // Time zone names have no engine letter.
        } else {
            out += c;
        }
    }
    return out.trimmed();
}

kalmira::TFormatSettings LocaleFormatSettings(const QLocale& locale) {
    kalmira::TFormatSettings s = kalmira::InvariantFormatSettings();
    s.DecimalSeparator = Char(locale.decimalPoint(), s.DecimalSeparator);
    s.ThousandSeparator = Char(locale.groupSeparator(), s.ThousandSeparator);
    s.ListSeparator = s.DecimalSeparator == u',' ? u';' : u',';
    s.CurrencyString = Text(locale.currencySymbol());
    s.ShortDateFormat = Text(EngineDateTimeFormat(locale.dateFormat(QLocale::ShortFormat)));
    s.LongDateFormat = Text(EngineDateTimeFormat(locale.dateFormat(QLocale::LongFormat)));
    s.ShortTimeFormat = Text(EngineDateTimeFormat(locale.timeFormat(QLocale::ShortFormat)));
    s.LongTimeFormat = Text(EngineDateTimeFormat(locale.timeFormat(QLocale::LongFormat)));
    for (const QChar c : locale.dateFormat(QLocale::ShortFormat))
        if (!c.isLetter()) {
            s.DateSeparator = c.unicode();
            break;
        }
    for (const QChar c : locale.timeFormat(QLocale::ShortFormat))
        if (!c.isLetter() && !c.isSpace()) {
            s.TimeSeparator = c.unicode();
            break;
        }
    s.TimeAMString = Text(locale.amText());
    s.TimePMString = Text(locale.pmText());
    for (int m = 1; m <= 12; ++m) {
        s.ShortMonthNames[m - 1] = Text(locale.monthName(m, QLocale::ShortFormat));
        s.LongMonthNames[m - 1] = Text(locale.monthName(m, QLocale::LongFormat));
    }
    // The engine counts days from Sunday, Qt from Monday (Sunday is 7).
    for (int d = 0; d < 7; ++d) {
        s.ShortDayNames[d] = Text(locale.dayName(d == 0 ? 7 : d, QLocale::ShortFormat));
        s.LongDayNames[d] = Text(locale.dayName(d == 0 ? 7 : d, QLocale::LongFormat));
    }
    return s;
}

QLocale NumericLocale() {
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const QString value = qEnvironmentVariable(variable);
        if (value.isEmpty()) continue;
        const QString name = value.section(u'.', 0, 0).section(u'@', 0, 0);
        if (name == u"C" || name == u"POSIX") return QLocale::c();
        return QLocale(name);
    }
    return QLocale::c();
}

kalmira::TFormatSettings TLocaleSettingsSource::LocaleSettings() const {
    kalmira::TFormatSettings settings = LocaleFormatSettings(QLocale::system());
    const kalmira::TFormatSettings numbers = LocaleFormatSettings(NumericLocale());
    settings.DecimalSeparator = numbers.DecimalSeparator;
    settings.ThousandSeparator = numbers.ThousandSeparator;
    settings.ListSeparator = numbers.ListSeparator;
    return settings;
}

void UseDesktopLocaleSettings() { kalmira::SetFormatSettingsSource(std::make_shared<TLocaleSettingsSource>()); }
