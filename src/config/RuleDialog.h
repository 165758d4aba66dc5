#pragma once

#include "config/RuleList.h"

#include <QDialog>

#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// One mail rule: what to do, which field to match and the pattern. Opened on
// a stored rule it shows the words it knows; OK is offered only while the
// rule is one the mail check can use, so an empty pattern is never saved.
class TfrmRule : public QDialog
{
public:
    TfrmRule(QWidget* owner, const std::string& text);

    // The rule as the controls give it, as the hive stores it.
    std::string Text() const;

    QLabel* lblRuleHelp = nullptr;
    QLabel* lblAction = nullptr;
    QComboBox* cboAction = nullptr;
    QLabel* lblField = nullptr;
    QComboBox* cboField = nullptr;
    QLabel* lblPattern = nullptr;
    QLineEdit* txtPattern = nullptr;
    QLabel* lblRuleProblem = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    void ShowProblem();

    // As opened: a word the lists do not hold stays until one is chosen.
    TRuleParts FOpened;
};
