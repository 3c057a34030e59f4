#include "app/cli/recover_command.h"

#include "app/recovery/run_journals.h"

namespace morix::cli {

int RunRecover(std::FILE* err) {
    const RecoveryReport report = RecoverInterruptedRuns();
    std::fputs(DescribeRecovery(report, false).c_str(), err);
    return report.Complete() ? 0 : 1;
}

void RecoverAtStart(std::FILE* err) {
    std::fputs(DescribeRecovery(RecoverInterruptedRuns(), true).c_str(), err);
}

}  // namespace morix::cli
