#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>

namespace vs {

// One running instance per program folder. Separate installations (and tests) never see each
// other, since the socket's name derives from the folder, taken by its canonical path: the
// same folder reached through a link or spelled another way is the same installation.
class SingleInstance : public QObject {
  public:
    explicit SingleInstance(const std::filesystem::path& programFolder);

    // True when another instance of this folder answers. With activate, it is also asked to
    // bring its window forward.
    bool findRunning(bool activate);
    // Become the instance that later ones find. Without success the program still runs.
    bool listen(std::function<void()> onActivate);

  private:
    QString name_;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace vs
