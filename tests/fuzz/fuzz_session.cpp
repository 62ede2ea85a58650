// libFuzzer target for the session reader: the input is a session file's
// bytes. A session that reads must write a file that reads again.

#include "app/Session.h"

#include <QByteArray>
#include <QDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QDir base(QStringLiteral("/nonexistent/sessions"));
    QString reason;
    const std::optional<Session> session = Session::parse(bytes, base, &reason);
    if (!session)
        return 0;
    if (!Session::parse(session->toJson(base), base, &reason))
        std::abort();
    return 0;
}
