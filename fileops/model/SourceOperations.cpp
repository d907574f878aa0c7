#include "fileops/model/SourceOperations.h"

namespace tarnel {

namespace {

class OperationSourceUi final : public SourceOperationUi {
public:
    void Attach(Operation* op) { op_ = op; }
    void Inform(const std::string& text) override { Say(OperationQuestion::Type::Notice, text); }
    void Error(const std::string& text) override { Say(OperationQuestion::Type::ErrorText, text); }
    bool Confirm(const std::string& text) override { return Say(OperationQuestion::Type::Confirm, text) != 0; }
    ReplaceAnswer AskReplace(const std::string& path, const FileFacts& existing, const FileFacts& incoming) override
    {
        return Replace(path, existing, incoming, "From the archive");
    }
    ReplaceAnswer AskReplaceMember(const std::string& member, const FileFacts& existing,
                                   const FileFacts& incoming) override
    {
        return Replace(member, existing, incoming, "From the disk");
    }
    ReplaceAnswer AskReplaceFromServer(const std::string& path, const FileFacts& existing,
                                       const FileFacts& incoming) override
    {
        return Replace(path, existing, incoming, "From the server");
    }
    void Status(const std::string& text) override
    {
        if (!op_)
            return;
        OperationProgress p = op_->Progress();
        p.currentName = text;
        op_->Report(p);
    }

    bool Progress(uint64_t bytesDone, uint64_t bytesTotal, const std::string& currentName) override
    {
        if (!op_)
            return true;
        OperationProgress p = op_->Progress();
        p.bytesDone = bytesDone;
        p.bytesTotal = bytesTotal;
        p.currentName = currentName;
        return op_->Report(p);
    }

private:
    ReplaceAnswer Replace(const std::string& path, const FileFacts& existing, const FileFacts& incoming,
                          const char* incomingLabel)
    {
        if (!op_)
            return ReplaceAnswer::Cancel;
        OperationQuestion q;
        q.type = OperationQuestion::Type::Replace;
        q.path = path;
        q.factsKnown = true;
        q.facts = {uint64_t(existing.size), uint64_t(incoming.size), existing.time, incoming.time};
        q.incomingLabel = incomingLabel;
        return ReplaceAnswer(op_->Ask(q));
    }
    int Say(OperationQuestion::Type type, const std::string& text)
    {
        if (!op_)
            return 0;
        OperationQuestion q;
        q.type = type;
        q.text = text;
        return op_->Ask(q);
    }
    Operation* op_ = nullptr;
};

} // namespace

std::shared_ptr<Operation> MakeSourceOperation(
    OperationKind kind, std::string title,
    const std::function<std::unique_ptr<SourceOperation>(SourceOperationUi& ui)>& make, std::vector<SourceRow> rows,
    std::shared_ptr<SourceOperationResult> result)
{
    auto ui = std::make_shared<OperationSourceUi>();
    std::shared_ptr<SourceOperation> operation = make(*ui);
    if (!operation)
        return nullptr;
    return std::make_shared<Operation>(kind, std::move(title),
                                       [ui, operation, rows = std::move(rows), result](Operation& op) {
                                           ui->Attach(&op);
                                           *result = operation->Run(rows);
                                           ui->Attach(nullptr);
                                           return OperationState::Done;
                                       });
}

} // namespace tarnel
