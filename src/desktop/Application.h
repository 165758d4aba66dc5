#pragma once

#include <QApplication>

#include <string>

// The application object. An error that leaves an event handler is shown in
// a critical box captioned "ternbell", and the program carries on.
class TApplication : public QApplication
{
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The error box for an error nobody handled. While one is open, further
    // errors are not shown in boxes of their own.
    static void ShowException(const std::string& message);
};
