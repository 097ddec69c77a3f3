#pragma once
// Whether a message can be answered through Quorvane, and the reply request if so.

#include <QByteArray>
#include <QString>

struct StoredMessage;

// Quorvane drops an unusable reply request without a word, so the receiver checks with
// the same rules first and says what is wrong. Empty when `block` holds the request.
QString ReplyProblem(const StoredMessage& record, QByteArray& block);
