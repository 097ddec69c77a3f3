#include "receiver/ReplyProblem.h"

#include "app/Conversions.h"
#include "app/Global.h"
#include "app/Validation.h"
#include "history/History.h"
#include "messaging/ReceiveString.h"

QString ReplyProblem(const StoredMessage& record, QByteArray& block)
{
    QString ip;
    if (!IsValidIp(record.address, ip))
        return QStringLiteral("Quorvane can only reply to IPv4 addresses, and this message came "
                              "from %1.")
            .arg(record.address);
    std::int32_t port = 0;
    if (!IsValidPort(record.port, port))
        return QStringLiteral("The sender gave no usable reply port (\"%1\"), so Quorvane could "
                              "not answer.")
            .arg(record.port);
    QString trimmed;
    if (!record.name.isEmpty() && !IsValidUserName(record.name, trimmed))
        return QStringLiteral("Quorvane cannot take the sender's name into its list: a name has "
                              "1 to %1 characters besides spaces around it.")
            .arg(Global::MaxUserNameLength);
    block = ReplyRequestBlock(record.name, ip, IntegerText(port));
    if (block.size() >= CopyDataBufferSize)
        return QStringLiteral("The sender's name is too long for a reply request (Quorvane reads "
                              "at most %1 bytes).")
            .arg(CopyDataBufferSize - 1);
    return QString();
}
