#include "Tessary/threadSafe/Task.h"

namespace Tessary {

Task::~Task() = default;
CancellableTask::~CancellableTask() = default;

void Task::Execute() {
    finished_.store(false);
    struct MarkFinished {
        std::atomic<bool>& flag;
        ~MarkFinished() { flag.store(true); }
    } mark{finished_};
    Run();
}

}  // namespace Tessary
