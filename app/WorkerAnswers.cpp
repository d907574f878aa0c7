#include "app/WorkerAnswers.h"

namespace tarnel {

WorkerAnswers::WorkerAnswers(int limit, QObject* parent)
    : QObject(parent), mailbox_(std::make_shared<Mailbox>()), limit_(limit)
{
    mailbox_->owner = this;
}

WorkerAnswers::~WorkerAnswers()
{
    const std::lock_guard<std::mutex> lock(mailbox_->mutex);
    mailbox_->owner = nullptr;
}

} // namespace tarnel
