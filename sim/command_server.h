// The TCP command channel of one emulated scanner: a listening socket on its
// own address, one thread per client connection, commands 1 to 7 served from
// the scanner's state, and the fault switches applied per connection.
#pragma once

#include "event_log.h"
#include "net_util.h"
#include "scanner_state.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace qz417::sim {

class CommandServer {
public:
    CommandServer(ScannerState &state, const EventLog &log, std::uint16_t port);
    ~CommandServer();
    CommandServer(const CommandServer &) = delete;
    CommandServer &operator=(const CommandServer &) = delete;

    bool listen(std::string *error); // binds address:port
    void start();                    // starts accepting
    void stop();                     // closes every connection and joins all threads

private:
    struct Connection {
        int fd = -1; // -1 once the serving thread has closed it
        bool finished = false;
        std::string peer;
        std::thread thread;
    };

    void acceptLoop();
    void serve(Connection *c);
    // Returns false when the connection is to be closed after this command.
    bool serveOne(Connection *c, int commandsSoFar, std::shared_ptr<const Image> *snapshot);
    bool sendReply(int fd, const std::uint8_t *data, std::size_t size, const FaultOptions &f);
    void closeConnection(Connection *c, bool reset);
    void reapFinished();
    bool waitStopping(std::chrono::milliseconds d); // true when stopping

    ScannerState &state_;
    const EventLog &log_;
    const std::uint16_t port_;
    const std::string name_;
    Fd listen_;
    Fd wake_;
    std::thread acceptThread_;
    std::atomic<bool> stopping_{false};
    std::mutex mu_; // guards connections_ and each Connection's fd / finished
    std::condition_variable stopCv_;
    std::list<std::unique_ptr<Connection>> connections_;
};

} // namespace qz417::sim
