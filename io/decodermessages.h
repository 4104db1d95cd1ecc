#ifndef DECODERMESSAGES_H
#define DECODERMESSAGES_H

#include <QString>

// What the image libraries say while an image is decoded or encoded: Qt's image plugins,
// libjpeg and libpng (through Qt), the colour profile parser, and libtiff, which prints
// straight to standard error unless it is given handlers. None of it reaches the user raw:
// while an object of this class lives, the messages of its thread are collected in it; at
// any other time they are dropped. Qt's other messages go on to the handler installed before.
//
// The first object installs the handlers, for the rest of the process.
class DecoderMessages
{
public:
    DecoderMessages();
    ~DecoderMessages();
    Q_DISABLE_COPY_MOVE(DecoderMessages)

    // The first message that says the data is damaged; empty when none did. Warnings about
    // what a decoder shrugs off (libpng's warnings, tags libtiff does not know) do not count.
    QString damage() const { return m_damage; }

    // Called by the handlers on the collecting thread.
    void note(const QString &message, bool meansDamage);

private:
    QString m_damage;
    DecoderMessages *m_outer;
};

#endif // DECODERMESSAGES_H
