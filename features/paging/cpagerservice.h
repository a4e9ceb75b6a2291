#pragma once
// CPagerService: a paging service (the company or gateway that delivers
// pages) with its terminal's telephone number, serial settings, password and
// block length. It also cuts a page text into page blocks for the senders.

#include "ground/keyedlist.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace tessaly {

class Comm;
class SerialControl;
class SmtpControl;
struct PagingContext;

class CPagerService {
public:
    // Blocks a single split can produce; the table has one more, unused slot 0.
    static constexpr int kMaxBlocks = 20;

    QString Name() const { return name_; }
    void SetName(const QString& v) { name_ = v; }
    // Dialled exactly as stored.
    QString Phone() const { return phone_; }
    void SetPhone(const QString& v) { phone_ = v; }
    QString Baud() const { return baud_; }
    void SetBaud(const QString& v) { baud_ = v; }
    // "NONE", "EVEN" or "ODD"; the port uses the first letter.
    QString Parity() const { return parity_; }
    void SetParity(const QString& v) { parity_ = v; }
    QString DataBits() const { return dataBits_; }
    void SetDataBits(const QString& v) { dataBits_ = v; }
    QString StopBits() const { return stopBits_; }
    void SetStopBits(const QString& v) { stopBits_ = v; }
    // 1 = COM1 .. 8 = COM8. Kept as its decimal text.
    std::int16_t CommPort() const;
    void SetCommPort(std::int16_t v) { commPort_ = QString::number(v); }
    // Characters per page block; 0 or less is stored as 1.
    std::int16_t MaxPageChar() const { return maxPageChar_; }
    void SetMaxPageChar(int v);
    QString TerminalPassword() const { return terminalPassword_; }
    void SetTerminalPassword(const QString& v) { terminalPassword_ = v; }
    // Seconds between dialling a numeric pager and sending the digits.
    std::int16_t DigitalDelay() const { return digitalDelay_; }
    void SetDigitalDelay(std::int16_t v) { digitalDelay_ = v; }
    QString Initstring() const { return initstring_; }
    void SetInitstring(const QString& v) { initstring_ = v; }

    // Where the service takes pages over the network, for the pager types
    // that do not dial: the WCTP endpoint URL, or "host[:port]" of an SNPP
    // server or of a paging terminal on a TCP port. Kept in the settings
    // file, not the profile.
    QString Address() const { return address_; }
    void SetAddress(const QString& v) { address_ = v; }
    // TLS from the first byte for SNPP and the TCP terminal (a WCTP
    // endpoint says it with https).
    bool UseTls() const { return useTls_; }
    void SetUseTls(bool v) { useTls_ = v; }
    // The account the gateway pages under at a WCTP carrier (the
    // originator's senderID); empty for SNPP and TCP.
    QString SenderID() const { return senderId_; }
    void SetSenderID(const QString& v) { senderId_ = v; }
    // The WCTP security code, or the password SNPP sends after the pager ID.
    // A secret like the mail passwords.
    QString SecurityCode() const { return securityCode_; }
    void SetSecurityCode(const QString& v) { securityCode_ = v; }
    // Asks a WCTP carrier to tell when the page reached the pager.
    bool Receipts() const { return receipts_; }
    void SetReceipts(bool v) { receipts_ = v; }
    // The address split for SNPP and the TCP terminal: the host, and the
    // port or `defaultPort` when none is given. False when it names none.
    bool HostAndPort(QString& host, int& port, int defaultPort) const;

    // The outcome of the last Logon, SendTo, Logoff or SendDigitalPage.
    std::int16_t ResultState() const { return resultState_; }

    // Calls the paging terminal and logs on; true when the call stays open
    // for blocks. Retries as the settings say.
    bool Logon(PagingContext& ctx, SerialControl& port);
    // Sends one page as blocks over the open call.
    void SendTo(PagingContext& ctx, SerialControl& port, const QString& pagerId, const QString& message,
                int messageNumber = 1);
    // Ends the dialogue and hangs up.
    void Logoff(PagingContext& ctx, SerialControl& port);
    // Dials a numeric pager and keys `digits`, with retries.
    void SendDigitalPage(PagingContext& ctx, SerialControl& port, const QString& phone, const QString& digits);
    // Sends a page as e-mail: one mail per page block to `recipient`, with
    // `from` and `subject` when given. A failed block sends the whole page
    // again, up to four attempts. The outcome goes to the status line and the
    // activity log; ResultState() is pagestate::OK only when the page went out.
    void SendSMTPPage(PagingContext& ctx, SmtpControl& smtp, const QString& recipient, const QString& message,
                      const std::optional<QString>& from = std::nullopt,
                      const std::optional<QString>& subject = std::nullopt, int messageNumber = 1);
    static constexpr int kSmtpAttempts = 4;

    // One block as it goes on the line: STX id CR text CR ETX checksum CR.
    static QByteArray Frame(const QString& pagerId, const QString& block);
    // The three checksum characters for the bytes STX .. ETX.
    static QByteArray Checksum(const QByteArray& stxToEtx);
    // The line settings text: baud, first letter of the parity, data bits, stop bits.
    QString LineSettings() const;

    // Cuts `text` into page blocks of MaxPageChar characters, at most
    // `maxBlocks` of them (0 means 20; more than 20 is held to 20). CR
    // becomes a space and the character after it a backspace (8), so CR LF
    // turns into " \b". Full blocks are not trimmed; the last block is, and
    // when the limit is reached it takes all the remaining text.
    void SplitMessage(const QString& text, int maxBlocks);
    // Blocks of the last split: 1 .. BlockCount().
    int BlockCount() const { return blockCount_; }
    QString Block(int number) const;
    // The frames a page to `pagerId` goes on the line as, each block cut to
    // fit a frame as SendTo cuts it; none when the pager ID leaves no room.
    QList<QByteArray> PlannedFrames(const QString& pagerId, const QString& message, int maxBlocks);

    // Joins the comma-separated pieces of `message`, trimmed, with LF.
    static QString FormatWithLF(const QString& message);
    // Pads each comma-separated piece of `message` with spaces so that it
    // fills whole display lines of `lineLength`; the first piece starts
    // `offset` characters into its line.
    static QString FormatWithSpaces(int offset, int lineLength, const QString& message);

private:
    std::int16_t logonDialogue(Comm& comm, SerialControl& port);
    void callAndLogOn(Comm& comm, SerialControl& port, std::int16_t& state);

    QString name_;
    QString phone_;
    QString baud_;
    QString parity_;
    QString dataBits_;
    QString stopBits_;
    QString commPort_;
    std::int16_t maxPageChar_ = 0;
    QString terminalPassword_;
    std::int16_t digitalDelay_ = 0;
    QString initstring_;
    QString address_;
    bool useTls_ = false;
    QString senderId_;
    QString securityCode_;
    bool receipts_ = false;

    std::array<QString, kMaxBlocks + 1> blocks_{};
    std::int16_t blockCount_ = 0;
    std::int16_t resultState_ = 0;
};

using ServiceList = KeyedList<CPagerService>;

} // namespace tessaly
