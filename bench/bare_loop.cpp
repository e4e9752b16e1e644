#include "bare_loop.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/select.h>
#include <unistd.h>

namespace zol_bench {

BareLoop::BareLoop(Handler handler, void *context) : handler_(handler), context_(context)
{
    int fds[2];
    if (pipe(fds) != 0) {
        abort();
    }
    pipe_read_ = fds[0];
    pipe_write_ = fds[1];
    fcntl(pipe_read_, F_SETFL, fcntl(pipe_read_, F_GETFL) | O_NONBLOCK);
    consumer_ = std::thread(&BareLoop::consume, this);
}

BareLoop::~BareLoop()
{
    stop_.store(true);
    const char wake = 's';
    while (write(pipe_write_, &wake, 1) < 0 && errno == EINTR) {
    }
    consumer_.join();
    close(pipe_read_);
    close(pipe_write_);
    while (head_ != nullptr) {
        Record *next = head_->next;
        free(head_->data);
        free(head_);
        head_ = next;
    }
}

bool BareLoop::queue(const uint8_t *data, size_t length)
{
    auto *record = static_cast<Record *>(calloc(1, sizeof(Record)));
    auto *copy = static_cast<uint8_t *>(malloc(length != 0 ? length : 1));
    if (record == nullptr || copy == nullptr) {
        free(record);
        free(copy);
        return false;
    }
    memcpy(copy, data, length);
    record->data = copy;
    record->length = length;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (tail_ != nullptr) {
            tail_->next = record;
        } else {
            head_ = record;
        }
        tail_ = record;
    }
    const char wake = ' ';
    while (write(pipe_write_, &wake, 1) < 0 && errno == EINTR) {
    }
    return true;
}

void BareLoop::process_queue()
{
    for (;;) {
        Record *record;
        {
            std::lock_guard<std::mutex> lock(mu_);
            record = head_;
            if (record == nullptr) {
                return;
            }
            head_ = record->next;
            if (head_ == nullptr) {
                tail_ = nullptr;
            }
        }
        handler_(context_, record->data, record->length);
        free(record->data);
        free(record);
    }
}

void BareLoop::consume()
{
    fd_set watched;
    FD_ZERO(&watched);
    FD_SET(pipe_read_, &watched);
    for (;;) {
        fd_set ready = watched;
        if (select(pipe_read_ + 1, &ready, nullptr, nullptr, nullptr) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        char buf[16];
        for (;;) {
            const ssize_t n = read(pipe_read_, buf, sizeof buf);
            if (n > 0 || (n < 0 && errno == EINTR)) {
                continue;
            }
            break;
        }
        if (stop_.load(std::memory_order_relaxed)) {
            return;
        }
        process_queue();
    }
}

} // namespace zol_bench
