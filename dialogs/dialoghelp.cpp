// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialoghelp.h"
#include "ui_dialoghelp.h"

#include <QAbstractTextDocumentLayout>
#include <QDesktopServices>
#include <QFile>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QUrl>

namespace {
// The README and the screenshots it shows, bundled under this folder as they lie in the source tree.
const QString GuideFolder = QStringLiteral(":/guide/");
} // namespace

DialogHelp::DialogHelp(QWidget* parent) : QDialog(parent), ui(new Ui::DialogHelp)
{
    ui->setupUi(this);
    QFile readme(GuideFolder + QStringLiteral("README.md"));
    QString guide;
    if (readme.open(QIODevice::ReadOnly))
        guide = guideSection(QString::fromUtf8(readme.readAll()));
    // Pictures named relative to the README (docs/...) are found among the bundled files.
    ui->textBrowserGuide->document()->setBaseUrl(QUrl(QStringLiteral("qrc") + GuideFolder));
    if (guide.isEmpty())
        ui->textBrowserGuide->setPlainText(tr("The user guide is missing from this build."));
    else
        ui->textBrowserGuide->setMarkdown(guide);
    connect(ui->textBrowserGuide, &QTextBrowser::anchorClicked, this, &DialogHelp::follow);
}

QString DialogHelp::anchorOf(const QString& heading)
{
    QString anchor;
    for (const QChar c : heading.trimmed().toLower()) {
        if (c.isLetterOrNumber() || c == u'-' || c == u'_')
            anchor += c;
        else if (c == u' ')
            anchor += u'-';
    }
    return anchor;
}

void DialogHelp::follow(const QUrl& link)
{
    if (link.scheme() == QLatin1String("http") || link.scheme() == QLatin1String("https")) {
        QDesktopServices::openUrl(link);
        return;
    }
    if (!link.hasFragment())
        return;
    QTextDocument* document = ui->textBrowserGuide->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() == 0 || anchorOf(block.text()) != link.fragment())
            continue;
        ui->textBrowserGuide->setTextCursor(QTextCursor(block));
        // The heading at the top of the view, not merely somewhere in it.
        const int top = int(document->documentLayout()->blockBoundingRect(block).top());
        ui->textBrowserGuide->verticalScrollBar()->setValue(top);
        return;
    }
}

DialogHelp::~DialogHelp()
{
    delete ui;
}

QString DialogHelp::guideSection(const QString& markdown)
{
    static const QRegularExpression start(QStringLiteral("^## User guide[ \\t]*$"),
                                          QRegularExpression::MultilineOption);
    static const QRegularExpression next(QStringLiteral("^## "), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch begin = start.match(markdown);
    if (!begin.hasMatch())
        return {};
    const QRegularExpressionMatch end = next.match(markdown, begin.capturedEnd());
    const qsizetype stop = end.hasMatch() ? end.capturedStart() : markdown.size();
    return markdown.mid(begin.capturedStart(), stop - begin.capturedStart()).trimmed() + QLatin1Char('\n');
}

void DialogHelp::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}
