// SPDX-License-Identifier: GPL-3.0-or-later
// PLACEHOLDER: to be written.
#include "testserver.h"
TestServer::TestServer(QObject* parent) : QObject(parent) {}
TestServer::~TestServer() = default;
bool TestServer::listen() { return false; }
quint16 TestServer::port() const { return 0; }
QUrl TestServer::url(const QString&) const { return {}; }
void TestServer::setResponse(const QString&, const Response&) {}
void TestServer::setPage(const QString&, const QByteArray&, const QByteArray&) {}
void TestServer::setRedirect(const QString&, const QByteArray&, int) {}
void TestServer::setStatus(const QString&, int, const QByteArray&) {}
int TestServer::hits(const QString&) const { return 0; }
int TestServer::openConnections() const { return 0; }
void TestServer::onNewConnection() {}
