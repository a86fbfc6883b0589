#include "texts.h"

#include <QTextDocument>

#include "ansi_text.h"

std::string Ansi(const char* utf8) { return platform::AnsiText(utf8); }

QString Shown(const std::string& bytes) { return QString::fromStdString(platform::DisplayText(bytes)); }

QString PlainHint(const QString& text)
{
    if (!Qt::mightBeRichText(text)) return text;
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

std::string Bytes(const QString& text) { return platform::AnsiText(text.toStdString()); }
