#include "desktop/Dialogs.h"

#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/Registry.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include <utility>
#include <vector>

namespace {

TMessageAnswerer& MessageAnswerer()
{
    static TMessageAnswerer answerer;
    return answerer;
}

TFileAnswerer& FileAnswerer()
{
    static TFileAnswerer answerer;
    return answerer;
}

QMessageBox::Icon IconOf(TMsgDlgType type)
{
    switch (type)
    {
    case TMsgDlgType::mtWarning: return QMessageBox::Warning;
    case TMsgDlgType::mtError: return QMessageBox::Critical;
    case TMsgDlgType::mtInformation: return QMessageBox::Information;
    case TMsgDlgType::mtConfirmation: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

std::vector<std::string> Split(const std::string& s, char sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (true)
    {
        const size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

std::string SwapCase(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// A button caption of the toolkit's own, fetched as the toolkit fetches it,
// so the installed translators see it.
QString StockText(const char* text)
{
    return QCoreApplication::translate("QPlatformTheme", text);
}

} // namespace

std::string QtFileFilter(const std::string& filter)
{
    if (filter.empty())
        return {};
    const std::vector<std::string> parts = Split(filter, '|');
    std::string out;
    for (size_t i = 0; i < parts.size(); i += 2)
    {
        std::string desc = AsciiText::Trim(parts[i]);
        const std::string patterns = i + 1 < parts.size() ? parts[i + 1] : "*";
        // The description often shows its patterns already; Qt reads them
        // from the trailing parentheses, so ours replace them.
        if (!desc.empty() && desc.back() == ')')
        {
            const size_t open = desc.rfind('(');
            if (open != std::string::npos)
                desc = AsciiText::Trim(desc.substr(0, open));
        }
        std::string list;
        for (const auto& raw : Split(patterns, ';'))
        {
            const std::string p = AsciiText::Trim(raw);
            if (p.empty())
                continue;
            list += (list.empty() ? "" : " ") + p;
            if (SwapCase(p) != p)
                list += " " + SwapCase(p);
        }
        if (!out.empty())
            out += ";;";
        out += (desc.empty() ? list : desc) + " (" + list + ")";
    }
    return out;
}

TModalResult MessageDlg(QWidget* owner, const TMessageRequest& request)
{
    if (MessageAnswerer())
        return MessageAnswerer()(request);

    QMessageBox box(owner);
    box.setIcon(IconOf(request.Type));
    box.setWindowTitle(request.Caption.empty() ? QGuiApplication::applicationDisplayName()
                                               : FromCodePage(request.Caption));
    // Texts may carry a server's words; they are never markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(FromCodePage(request.Text));

    std::vector<std::pair<QAbstractButton*, TModalResult>> buttons;
    auto add = [&](unsigned flag, const char* text, QMessageBox::ButtonRole role, TModalResult result) {
        if (request.Buttons & flag)
            buttons.emplace_back(box.addButton(StockText(text), role), result);
    };
    add(mbYes, "&Yes", QMessageBox::YesRole, TModalResult::mrYes);
    add(mbNo, "&No", QMessageBox::NoRole, TModalResult::mrNo);
    add(mbOK, "OK", QMessageBox::AcceptRole, TModalResult::mrOk);
    add(mbCancel, "Cancel", QMessageBox::RejectRole, TModalResult::mrCancel);
    if (buttons.empty())
        buttons.emplace_back(box.addButton(StockText("OK"), QMessageBox::AcceptRole),
                             TModalResult::mrOk);
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.front().first));
    // Escape gives the last answer: Cancel, No or the only button.
    box.setEscapeButton(buttons.back().first);

    box.exec();
    const QAbstractButton* clicked = box.clickedButton();
    for (const auto& [button, result] : buttons)
        if (button == clicked)
            return result;
    return buttons.back().second;
}

std::optional<std::string> OpenFileDlg(QWidget* owner, const TFileRequest& request)
{
    if (FileAnswerer())
        return FileAnswerer()(request);
    QFileDialog dialog(owner, QString(), FromCodePage(request.InitialDir),
                       FromCodePage(QtFileFilter(request.Filter)));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return ToCodePage(dialog.selectedFiles().constFirst());
}

void SetMessageAnswerer(TMessageAnswerer answerer)
{
    MessageAnswerer() = std::move(answerer);
}

void SetFileAnswerer(TFileAnswerer answerer)
{
    FileAnswerer() = std::move(answerer);
}

void ReportHiveProblemsInErrorBox()
{
    SetHiveProblemReporter([](const std::string& text) {
        MessageDlg(nullptr, TMessageRequest{"", text, TMsgDlgType::mtError, mbOK});
    });
}

void ShowWarningBox(const std::string& caption, const std::string& text)
{
    MessageDlg(nullptr, TMessageRequest{caption, text, TMsgDlgType::mtWarning, mbOK});
}
