// Answers the runner's requests (agentrequests.cpp).
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

class AgentObjects;

namespace AgentRequests {

// Answers one request (everything but the connection's own business: authentication, hello, blocked
// requests); false with a reason. A gone object's reason is "gone". The fuzz target calls it directly.
bool handle(AgentObjects* objects, const QJsonObject& request, QJsonValue* result, QString* error);

} // namespace AgentRequests
