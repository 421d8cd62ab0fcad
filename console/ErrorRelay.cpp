#include "console/ErrorRelay.h"

#include <QCoreApplication>
#include <QObject>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>

#include "console/CommandEvents.h"
#include "console/DosCommand.h"

namespace {

class TErrorRelay : public QObject {
  public:
    ~TErrorRelay() override;
    void customEvent(QEvent* event) override;
};

std::mutex& ErrorMutex() {
    static std::mutex m;
    return m;
}
std::deque<std::string>& PendingErrors() {
    static std::deque<std::string> errors;
    return errors;
}
TErrorRelay*& Relay() {  // guarded by ErrorMutex
    static TErrorRelay* relay = nullptr;
    return relay;
}
std::function<void(const std::string&)>& ErrorHandler() {  // main thread only
    static std::function<void(const std::string&)> handler;
    return handler;
}

void ShowMessage(const std::string& message) {
    if (ErrorHandler()) {
        ErrorHandler()(message);
    } else {
        fprintf(stderr, "%s\n", message.c_str());
    }
}

TErrorRelay::~TErrorRelay() {
    std::lock_guard<std::mutex> lock(ErrorMutex());
    if (Relay() == this) {
        Relay() = nullptr;
    }
}

void TErrorRelay::customEvent(QEvent* event) {
    AcceptEvent(event);
    for (;;) {
        std::string message;
        {
            std::lock_guard<std::mutex> lock(ErrorMutex());
            if (PendingErrors().empty()) {
                return;
            }
            message = std::move(PendingErrors().front());
            PendingErrors().pop_front();
        }
        ShowMessage(message);
    }
}

}  // namespace

void EnsureErrorRelay() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        return;
    }
    std::lock_guard<std::mutex> lock(ErrorMutex());
    if (!Relay()) {
        auto* relay = new TErrorRelay;
        relay->moveToThread(app->thread());
        relay->setParent(app);
        Relay() = relay;
    }
}

void TDosCommand::SetErrorHandler(std::function<void(const std::string& message)> handler) {
    ErrorHandler() = std::move(handler);
}

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
        return message + ".";
    }
    return message;
}

void ReportRunError(const std::string& text) {
    // Shown as an error box shows a failure's text.
    const std::string message = ErrorBoxText(text);
    std::lock_guard<std::mutex> lock(ErrorMutex());
    if (Relay()) {
        PendingErrors().push_back(message);
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        PostEvent(Relay(), type);
    } else {
        fprintf(stderr, "%s\n", message.c_str());
    }
}
