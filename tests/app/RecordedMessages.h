#pragma once
// Records the message boxes a command would show, instead of showing them.
#include "app/UserMessages.h"

#include <QStringList>

namespace tarnel::test {

struct RecordedMessages : UserMessages {
    QStringList log;
    bool answer = true; // what every confirmation answers
    void Error(const QString& t) override { log.append("error: " + t); }
    void Warning(const QString& t) override { log.append("warning: " + t); }
    void Information(const QString& t) override { log.append("information: " + t); }
    bool Confirm(const QString& t) override
    {
        log.append("confirm: " + t);
        return answer;
    }
};

} // namespace tarnel::test
