#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

// A plain HTTP server on loopback standing in for the public-IP service:
// each request gets the one prepared answer, or none at all when it hangs.
class CLocalHttpServer final : public QObject
{
    Q_OBJECT

public:
    CLocalHttpServer();

    // The answer to every request from now on: a status and a body.
    void Answer(int status, const QByteArray& body);
    // Requests are read and never answered; the connection stays open.
    void Hang() { hang_ = true; }

    // "http://127.0.0.1:<port><path>".
    QString Url(const QString& path = QStringLiteral("/ip")) const;
    // The request heads received so far, each up to its empty line.
    const QList<QByteArray>& requests() const { return requests_; }
    // Connections the clients still hold open.
    int OpenConnections() const;

private:
    void OnConnection();
    void OnData(QTcpSocket* socket);

    QTcpServer server_;
    QList<QPointer<QTcpSocket>> sockets_;
    QList<QByteArray> requests_;
    QByteArray response_;
    bool hang_ = false;
};
