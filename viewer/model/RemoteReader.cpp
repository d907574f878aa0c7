#include "viewer/model/RemoteReader.h"

#include "platform/ssh/SshQuestions.h"
#include "viewer/model/TextFile.h"

#include <algorithm>
#include <cstring>

namespace tarnel {

namespace {

// One request of at most this much: a long read never holds the host's
// connection (which the panes share) for long.
constexpr size_t kMostPerCall = size_t(1) << 20;

std::shared_ptr<SshQuestions> OrNobody(std::shared_ptr<SshQuestions> questions)
{
    return questions ? std::move(questions) : std::make_shared<NoSshQuestions>();
}

} // namespace

RemoteReader::RemoteReader(SftpUrl url, std::shared_ptr<SshQuestions> questions)
    : url_(std::move(url)), connection_(SshConnection::For(url_)), questions_(OrNobody(std::move(questions)))
{
}

size_t RemoteReader::ReadAt(int64_t offset, void* buffer, size_t size) const
{
    size_t got = 0;
    std::string chunk;
    while (got < size && offset >= 0) {
        const size_t want = std::min(size - got, kMostPerCall);
        const RemoteError error = connection_->Use(*questions_, [&](RemoteFiles& files) {
            return files.ReadAt(url_.path, uint64_t(offset) + got, want, chunk);
        });
        if (error) {
            const std::lock_guard<std::mutex> lock(mutex_);
            failure_ = error.text;
            break;
        }
        std::memcpy(static_cast<char*>(buffer) + got, chunk.data(), std::min(chunk.size(), want));
        got += std::min(chunk.size(), want);
        fetched_ += chunk.size();
        if (chunk.size() < want)
            break; // the end of the file
    }
    return got;
}

std::string RemoteReader::Failure() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

std::string StatRemote(const std::string& address, RemoteEntry& entry, std::shared_ptr<SshQuestions> questions)
{
    const std::optional<SftpUrl> url = SftpUrl::Parse(address);
    if (!url)
        return address + " is not a remote file's address";
    questions = OrNobody(std::move(questions));
    const RemoteError error =
        SshConnection::For(*url)->Use(*questions, [&](RemoteFiles& files) { return files.Stat(url->path, entry); });
    if (error)
        return error.text;
    return {};
}

bool OpenForViewing(TextFile& file, const std::string& path, int64_t headBytes, std::string& error)
{
    error.clear();
    if (!IsSftpText(path))
        return file.Open(path, headBytes); // the view stays empty, as it always has
    file.Close();
    const std::optional<SftpUrl> url = SftpUrl::Parse(path);
    RemoteEntry entry;
    error = StatRemote(path, entry);
    if (error.empty() && entry.directory)
        error = path + " is a folder";
    if (!error.empty())
        return false;
    auto reader = std::make_shared<RemoteReader>(*url);
    if (!file.Open(reader, path, int64_t(entry.size), std::min(headBytes, kRemoteHeadBytes))) {
        error = reader->Failure();
        return false;
    }
    return true;
}

} // namespace tarnel
