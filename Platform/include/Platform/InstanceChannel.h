// A small request channel between the programs of one user on one machine
// folder: a process that holds a named event (CreateEventW) also answers
// one-line requests of the other processes on its machine over a Unix
// socket in the machine's folder of the user's runtime folder, so that a
// second instance can reach the first. A machine in memory has none. What a request means is
// up to the handler the answering process installed (the dialog layer
// answers questions about its windows).
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

namespace Platform {

// Takes one request line and returns the answer line (empty: "nothing
// here"). Runs on the channel's own thread. Process-wide.
using InstanceRequestHandler = std::function<std::string(const std::string& request)>;
void SetInstanceRequestHandler(InstanceRequestHandler handler);

// Starts answering, once per process (done by a named event's first holder).
void ServeInstanceRequests();

// Takes this process's channel out of the user's folder. Done by itself at
// exit and on SIGINT, SIGTERM and SIGHUP (unless the program handles or
// ignores them); a program that ends with _Exit calls it first.
void RemoveInstanceChannel();

struct InstanceAnswer {
    std::string channel;  // where to send follow-up requests
    std::string answer;
    pid_t process = 0;  // the one that answered
};
// The first non-empty answer of the machine's other answering processes.
std::optional<InstanceAnswer> AskOtherInstances(const std::string& request);
// One request to one process; empty when it cannot be reached.
std::string AskInstance(const std::string& channel, const std::string& request);

}  // namespace Platform
