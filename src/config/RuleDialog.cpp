#include "config/RuleDialog.h"

#include "config/ConfigRules.h"
#include "config/RuleList.h"
#include "config/SettingsControls.h"
#include "desktop/FormParts.h"
#include "desktop/WindowTexts.h"
#include "platform/CodePage.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

TfrmRule::TfrmRule(QWidget* owner, const std::string& text) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmRule"));
    setWindowTitle(QStringLiteral("Rule"));
    lblRuleHelp = WrappedLabel(this, "lblRuleHelp",
                               "The first rule that matches a new message decides. Important: told even "
                               "while quiet. Quiet: listed, never told. Ignore: not listed. In the "
                               "pattern, * stands for any text and ? for one character; case does not "
                               "matter.");
    lblAction = Captioned<QLabel>(this, "lblAction", "&Action:");
    cboAction = Named(new QComboBox(this), "cboAction");
    cboAction->addItems(Items(RuleActionNames));
    lblAction->setBuddy(cboAction);
    lblField = Captioned<QLabel>(this, "lblField", "&Field:");
    cboField = Named(new QComboBox(this), "cboField");
    cboField->addItems(Items(RuleFieldNames));
    lblField->setBuddy(cboField);
    lblPattern = Captioned<QLabel>(this, "lblPattern", "&Pattern:");
    txtPattern = Named(new QLineEdit(this), "txtPattern");
    lblPattern->setBuddy(txtPattern);
    KeepUntranslated(txtPattern); // the user's own text
    lblRuleProblem = Named(new QLabel(this), "lblRuleProblem");
    lblRuleProblem->setTextFormat(Qt::PlainText);
    lblRuleProblem->setWordWrap(true);
    btnOk = Captioned<QPushButton>(this, "btnOk", "&Ok");
    btnCancel = Captioned<QPushButton>(this, "btnCancel", "&Cancel");
    btnOk->setDefault(true);

    auto* grid = new QGridLayout;
    grid->addWidget(lblAction, 0, 0);
    grid->addWidget(cboAction, 0, 1);
    grid->addWidget(lblField, 1, 0);
    grid->addWidget(cboField, 1, 1);
    grid->addWidget(lblPattern, 2, 0);
    grid->addWidget(txtPattern, 2, 1);
    grid->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblRuleHelp);
    layout->addLayout(grid);
    layout->addWidget(lblRuleProblem);
    layout->addStretch(1);
    layout->addLayout(buttons);
    TranslateComponent(this);
    // The help is long: as wide as a line of it reads well, and never
    // shorter than its lines need at the width it has.
    lblRuleHelp->setMinimumWidth(fontMetrics().averageCharWidth() * 55);
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    // A word the dialog does not know leaves its list without a choice: the
    // rule cannot be saved until one is made.
    FOpened = SplitRule(text);
    cboAction->setCurrentIndex(FOpened.Action);
    cboField->setCurrentIndex(FOpened.Field);
    const QString pattern = FromCodePage(FOpened.Pattern);
    // A long pattern read from the hive is edited whole, not cut to the
    // edit's usual length.
    txtPattern->setMaxLength(std::max<int>(EditMaxLength, static_cast<int>(pattern.size())));
    txtPattern->setText(pattern);

    connect(cboAction, &QComboBox::currentIndexChanged, this, [this] { ShowProblem(); });
    connect(cboField, &QComboBox::currentIndexChanged, this, [this] { ShowProblem(); });
    connect(txtPattern, &QLineEdit::textChanged, this, [this] { ShowProblem(); });
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    ShowProblem();
}

std::string TfrmRule::Text() const
{
    TRuleParts parts = FOpened;
    parts.Action = cboAction->currentIndex();
    parts.Field = cboField->currentIndex();
    parts.Pattern = ToCodePage(txtPattern->text());
    return JoinRule(parts);
}

void TfrmRule::ShowProblem()
{
    const std::string problem = RuleProblem(Text());
    lblRuleProblem->setText(FromCodePage(problem));
    lblRuleProblem->setVisible(!problem.empty());
    btnOk->setEnabled(problem.empty());
}
