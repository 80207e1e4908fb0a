#include "frmChangeCommand.h"

#include "AddressMonitor.h"
#include "Caption.h"
#include "modIdentity.h"
#include "modSkin.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

frmChangeCommand::frmChangeCommand(AddressMonitor &monitor, QWidget *parent)
    : QDialog(parent), m_monitor(monitor)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Run Command on Change"));
    buildControls();
    connect(&m_monitor, &AddressMonitor::commandTestStatus, lblResult, &QLabel::setText);
    connect(&m_monitor, &AddressMonitor::commandTestEnded, this, &frmChangeCommand::test_Ended);
    txtCommand->setText(m_monitor.changeCommand());
    // Connected after the stored text is shown, so that showing it saves nothing.
    connect(txtCommand, &QLineEdit::textEdited, this, &frmChangeCommand::txtCommand_Change);
    if (modIdentity::Identity().blnSkinEnabled)
        modSkin::runGuarded([this] { modSkin::SkinForm(this); });
}

frmChangeCommand::~frmChangeCommand()
{
    m_monitor.EndCommandTest();
}

void frmChangeCommand::buildControls()
{
    lblCommand = new QLabel(QStringLiteral("Command:"), this);
    txtCommand = new QLineEdit(this);
    txtCommand->setPlaceholderText(QStringLiteral("/home/you/bin/update-dns.sh"));
    txtCommand->setMaxLength(int(AddressMonitor::MaxCommandLength));
    cmdTest = new QPushButton(QStringLiteral("Test"), this);
    cmdTest->setToolTip(QStringLiteral("Run the command once now with the addresses shown"));
    cmdTest->setAutoDefault(false);
    lblHint = new QLabel(
        QStringLiteral("Runs after an address changes, without a shell: quote arguments with "
                       "spaces in double quotes. Its environment holds NETQUILL_INTERNAL, "
                       "NETQUILL_EXTERNAL, NETQUILL_OLD_INTERNAL, NETQUILL_OLD_EXTERNAL and "
                       "NETQUILL_SOURCE; with IPv4 and IPv6 followed apart also NETQUILL_INTERNAL6, "
                       "NETQUILL_EXTERNAL6, NETQUILL_OLD_INTERNAL6 and NETQUILL_OLD_EXTERNAL6. "
                       "Empty: nothing runs."),
        this);
    lblHint->setWordWrap(true);
    lblResult = new QLabel(this);
    lblResult->setTextFormat(Qt::PlainText);
    lblResult->setWordWrap(true);
    txtOutput = new QPlainTextEdit(this);
    txtOutput->setReadOnly(true);
    txtOutput->setPlaceholderText(QStringLiteral("The test's output"));
    Caption::link(lblCommand, txtCommand);

    auto *command = new QHBoxLayout;
    command->addWidget(lblCommand);
    command->addWidget(txtCommand, 1);
    command->addWidget(cmdTest);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(command);
    layout->addWidget(lblHint);
    layout->addWidget(lblResult);
    layout->addWidget(txtOutput, 1);
    resize(560, 260);

    connect(cmdTest, &QPushButton::clicked, this, &frmChangeCommand::cmdTest_Click);
}

void frmChangeCommand::txtCommand_Change()
{
    m_monitor.setChangeCommand(txtCommand->text());
}

void frmChangeCommand::cmdTest_Click()
{
    txtOutput->clear();
    if (m_monitor.TestCommand(txtCommand->text()))
        cmdTest->setEnabled(false);
}

void frmChangeCommand::test_Ended(const QString &output)
{
    txtOutput->setPlainText(output);
    cmdTest->setEnabled(!m_monitor.commandTesting());
}
