// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/newsedit.h"

#include "engine/news/newsdelivery.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>

NewsEdit::NewsEdit(const QString& headersLabel, QWidget* parent) : QWidget(parent)
{
    auto* form = new QFormLayout(this);
    form->setContentsMargins({});
    m_command = new QLineEdit(this);
    m_command->setObjectName(QStringLiteral("lineEditNewsCommand"));
    m_command->setMaxLength(NewsDestination::MaxTargetLength);
    m_command->setPlaceholderText(tr("a program and its arguments; the news comes as JSON on its input"));
    m_post = new QLineEdit(this);
    m_post->setObjectName(QStringLiteral("lineEditNewsPost"));
    m_post->setMaxLength(NewsDestination::MaxTargetLength);
    m_post->setPlaceholderText(QStringLiteral("https://"));
    m_headers = new QPlainTextEdit(this);
    m_headers->setObjectName(QStringLiteral("plainTextEditNewsHeaders"));
    m_headers->setTabChangesFocus(true);
    m_headers->setPlaceholderText(tr("Authorization: Bearer ..."));
    m_headers->setMaximumHeight(60);
    m_plain = new QCheckBox(tr("Post plain te&xt with a Title header instead of JSON"), this);
    m_plain->setObjectName(QStringLiteral("checkBoxNewsPlain"));
    form->addRow(tr("Run a co&mmand on news:"), m_command);
    form->addRow(tr("&Post news to:"), m_post);
    form->addRow(headersLabel, m_headers);
    form->addRow(QString(), m_plain);
}

void NewsEdit::setOptions(const QHash<QString, QString>& options)
{
    m_command->setText(options.value(QLatin1String(NewsDestination::CommandOption)));
    m_post->setText(options.value(QLatin1String(NewsDestination::PostOption)));
    m_headers->setPlainText(options.value(QLatin1String(NewsDestination::HeadersOption)));
    m_plain->setChecked(options.value(QLatin1String(NewsDestination::PlainOption)) == QLatin1String("1"));
}

QHash<QString, QString> NewsEdit::options() const
{
    QHash<QString, QString> options;
    const auto put = [&options](const char* option, const QString& value) {
        if (!value.isEmpty())
            options.insert(QLatin1String(option), value);
    };
    put(NewsDestination::CommandOption, m_command->text().trimmed());
    put(NewsDestination::PostOption, m_post->text().trimmed());
    put(NewsDestination::HeadersOption, m_headers->toPlainText().trimmed());
    put(NewsDestination::PlainOption, m_plain->isChecked() ? QStringLiteral("1") : QString());
    return options;
}

bool NewsEdit::refuses(QString* option, QString* reason) const
{
    const QHash<QString, QString> entered = options();
    for (const QString& name : NewsDestination::taskOptions()) {
        const QString why = NewsDestination::optionProblem(name, entered.value(name));
        if (!why.isEmpty()) {
            *option = name;
            *reason = why;
            return true;
        }
    }
    return false;
}

QList<QWidget*> NewsEdit::fields() const
{
    return {m_command, m_post, m_headers, m_plain};
}

QWidget* NewsEdit::fieldOf(const QString& option) const
{
    if (option == QLatin1String(NewsDestination::PostOption))
        return m_post;
    if (option == QLatin1String(NewsDestination::HeadersOption))
        return m_headers;
    if (option == QLatin1String(NewsDestination::PlainOption))
        return m_plain;
    return m_command;
}
