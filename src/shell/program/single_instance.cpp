#include "shell/program/single_instance.h"

#include <QLocalSocket>

#include "common/sha256.h"

namespace vs {

SingleInstance::SingleInstance(const std::filesystem::path& programFolder) {
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::weakly_canonical(programFolder, ec);
    const std::string key = (ec ? programFolder : folder).string();
    const QByteArray hash = QByteArray::fromStdString(sha256(key)).toHex();
    name_ = QStringLiteral("valtrassosftp-") + QString::fromLatin1(hash.left(24));
}

bool SingleInstance::findRunning(bool activate) {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(1000)) return false;
    if (activate) {
        socket.write("activate\n");
        socket.waitForBytesWritten(1000);
    }
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen(std::function<void()> onActivate) {
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        // A socket left behind by a crashed instance: nobody answered on it, so it is stale.
        QLocalServer::removeServer(name_);
        if (!server_->listen(name_)) return false;
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, this, [this, onActivate] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            QObject::connect(peer, &QLocalSocket::readyRead, peer, [peer, onActivate] {
                if (peer->readAll().contains("activate") && onActivate) onActivate();
            });
        }
    });
    return true;
}

}  // namespace vs
