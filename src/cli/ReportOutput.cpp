#include "ReportOutput.h"

#include <QTemporaryFile>
#include <cerrno>
#include <cstring>

#include "Failure.h"
#include "ReportFile.h"
#include "ReportWriter.h"
#include "Terminal.h"

namespace cli {

void WriteReport(const std::optional<QString>& output, std::FILE* out,
                 const std::function<void(QIODevice&, bool)>& write) {
    try {
        if (output) {
            compare::ReportFile file(*output);
            if (!file.open()) {
                fail(QStringLiteral("Cannot write %1: %2").arg(*output, file.errorString()));
            }
            write(file.device(), file.replaces());
            if (!file.commit()) {
                fail(QStringLiteral("Cannot write %1: %2").arg(*output, file.errorString()));
            }
        } else {
            QTemporaryFile file;
            if (!file.open()) fail(QStringLiteral("Cannot make a temporary file for the report."));
            write(file, false);
            writeAll(out, file);
        }
    } catch (const compare::ReportWriteError& e) {
        fail(output ? QStringLiteral("Cannot write %1: %2").arg(*output, e.reason())
                    : QString::fromUtf8(e.what()));
    }
}

void writeAll(std::FILE* to, QIODevice& from) {
    const auto failed = [] {
        fail(QStringLiteral("Cannot write the report to standard output: %1")
                 .arg(QString::fromLocal8Bit(std::strerror(errno))));
    };
    from.seek(0);
    char buffer[65536];
    for (qint64 n; (n = from.read(buffer, sizeof buffer)) > 0;) {
        // A big report onto a slow pipe: a stop signal still answers.
        if (stopSignal != 0) throw Stopped{stopSignal};
        if (std::fwrite(buffer, 1, static_cast<std::size_t>(n), to) !=
            static_cast<std::size_t>(n)) {
            failed();
        }
    }
    if (std::fflush(to) != 0) failed();
}

}  // namespace cli
