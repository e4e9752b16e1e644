// The floor under the module's event path: the same producer work (a record
// and a payload copy, a linked queue, one byte into a pipe) and the same
// consumer loop (select, drain up to 16 wake-up bytes per read, walk the whole
// queue), with nothing in between but a handler of the caller's choice.
#ifndef ZOL_BENCH_BARE_LOOP_H
#define ZOL_BENCH_BARE_LOOP_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

namespace zol_bench {

class BareLoop {
public:
    using Handler = void (*)(void *context, const uint8_t *data, size_t length);

    BareLoop(Handler handler, void *context);
    ~BareLoop(); // stops and joins the consumer
    BareLoop(const BareLoop &) = delete;
    BareLoop &operator=(const BareLoop &) = delete;

    // Producer side; any thread but the consumer's. False when out of memory.
    bool queue(const uint8_t *data, size_t length);

private:
    struct Record {
        Record *next;
        uint8_t *data;
        size_t length;
    };

    void consume();
    void process_queue();

    Handler handler_;
    void *context_;
    int pipe_read_ = -1;
    int pipe_write_ = -1;
    std::mutex mu_;
    Record *head_ = nullptr;
    Record *tail_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread consumer_;
};

} // namespace zol_bench

#endif
