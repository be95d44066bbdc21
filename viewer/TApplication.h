#pragma once
#include <QApplication>

#include <functional>

// The application object. Qt does not carry exceptions through its event
// loop, so every event is delivered inside a guard that hands an escaping
// exception to the installed handler instead of ending the program.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

    static void SetExceptionHandler(std::function<void()> handler) { Handler() = std::move(handler); }

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            if (Handler())
                Handler()();
            return false;
        }
    }

private:
    static std::function<void()>& Handler()
    {
        static std::function<void()> handler;
        return handler;
    }
};
