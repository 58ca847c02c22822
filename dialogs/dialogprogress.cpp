// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialogprogress.h"
#include "ui_dialogprogress.h"

#include <QKeyEvent>

DialogProgress::DialogProgress(QWidget* parent) : QDialog(parent), ui(new Ui::DialogProgress)
{
    ui->setupUi(this);
    // A frameless popup: it only tells the user to wait while the main window is disabled.
    setWindowFlags(Qt::Popup);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &DialogProgress::cancelRequested);
    m_slow.setSingleShot(true);
    connect(&m_slow, &QTimer::timeout, this, &DialogProgress::showAwaited);
}

DialogProgress::~DialogProgress()
{
    delete ui;
}

void DialogProgress::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void DialogProgress::setMessage(const QString& message)
{
    ui->label->setText(message);
    ui->label->setAlignment(Qt::AlignCenter);
    ui->label->setText(tr("<font color=\"red\" size=\"40\">%1</font>").arg(message));
}

void DialogProgress::keyPressEvent(QKeyEvent* event)
{
    // Escape leaves the wait; the box stays until the command has ended it.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        emit cancelRequested();
        return;
    }
    QDialog::keyPressEvent(event);
}

void DialogProgress::watchAwaited(std::function<QStringList()> awaited, int slowMs)
{
    m_awaited = std::move(awaited);
    m_slow.start(slowMs);
}

void DialogProgress::showAwaited()
{
    m_slow.start(1000);
    const QString text = awaitedText(m_awaited ? m_awaited() : QStringList());
    ui->awaited->setText(text);
    ui->awaited->setToolTip(text);
    ui->awaited->setVisible(!text.isEmpty());
    fitHeight();
}

void DialogProgress::showEvent(QShowEvent* event)
{
    fitHeight();
    QDialog::showEvent(event);
}

// The box keeps its width and grows to the height its wrapped message, awaited line and button need.
void DialogProgress::fitHeight()
{
    const int needed = heightForWidth(width());
    if (needed > height())
        resize(width(), needed);
}

QString DialogProgress::awaitedText(const QStringList& addresses)
{
    // Addresses come from the tasks: shown as plain text, cut so the box keeps its width.
    constexpr int MaxChars = 70;
    if (addresses.isEmpty())
        return {};
    QString first = addresses.first();
    if (first.size() > MaxChars)
        first = first.left(MaxChars - 1) + QChar(0x2026);
    if (addresses.size() == 1)
        return tr("Still waiting for %1").arg(first);
    return tr("Still waiting for %1 pages, among them %2").arg(addresses.size()).arg(first);
}
