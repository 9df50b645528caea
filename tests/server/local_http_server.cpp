#include "tests/server/local_http_server.h"

#include <gtest/gtest.h>

CLocalHttpServer::CLocalHttpServer()
{
    EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
    connect(&server_, &QTcpServer::newConnection, this, &CLocalHttpServer::OnConnection);
    Answer(200, QByteArray());
}

void CLocalHttpServer::Answer(int status, const QByteArray& body)
{
    hang_ = false;
    response_ = QByteArrayLiteral("HTTP/1.1 ") + QByteArray::number(status)
        + (status == 200 ? QByteArrayLiteral(" OK") : QByteArrayLiteral(" Not Found"))
        + QByteArrayLiteral("\r\nContent-Type: text/plain\r\nContent-Length: ") + QByteArray::number(body.size())
        + QByteArrayLiteral("\r\nConnection: close\r\n\r\n") + body;
}

QString CLocalHttpServer::Url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
}

int CLocalHttpServer::OpenConnections() const
{
    int open = 0;
    for (const auto& socket : sockets_)
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            ++open;
    return open;
}

void CLocalHttpServer::OnConnection()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        sockets_ << socket;
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnData(socket); });
    }
}

void CLocalHttpServer::OnData(QTcpSocket* socket)
{
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    socket->setProperty("head", head);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0 || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    requests_ << head.left(end);
    if (hang_)
        return;
    socket->write(response_);
    socket->disconnectFromHost();
}
