#pragma once

#include <QList>
#include <QObject>

#include <memory>

class QSocketNotifier;

namespace nimbel {

class X11Connection;

// Tells when the owner presses a mouse button or the Escape key anywhere on
// the desktop, without taking the input from anybody (XInput 2 raw events on
// the root window). It listens only while switched on: nothing the owner
// types reaches the assistant otherwise.
class X11InputWatch final : public QObject
{
    Q_OBJECT
public:
    explicit X11InputWatch(QObject *parent = nullptr);
    ~X11InputWatch() override;

    // False when the display has no XInput 2.2.
    bool isAvailable() const { return m_opcode != 0; }
    void setListening(bool listening);

signals:
    // A button press (the wheel does not count) or the Escape key.
    void pressed();

private:
    void readEvents();
    void findEscapeKeys();

    std::unique_ptr<X11Connection> m_connection;
    QSocketNotifier *m_notifier = nullptr;
    quint8 m_opcode = 0;
    bool m_listening = false;
    QList<quint32> m_escapeKeys;
};

} // namespace nimbel
