#pragma once
// Pages sent by hand, both through the page queue: the immediate message
// typed in its window for pager 1, and the options dialog's test page for
// the pager its fields describe.

#include "features/paging/cpager.h"

#include <QString>
#include <functional>

namespace tessaly {

class Connection;
class MessageQueue;
class Prompter;
class StatusWindow;
struct LiveSettings;

struct ManualPageContext {
    const LiveSettings& settings;
    PagerList& pagers;
    MessageQueue& queue;
    StatusWindow& status;
    Prompter& prompter;
    // Ends the dial-up connection after an e-mail page (unless direct).
    Connection* connection;
    // Sends and empties the queue.
    std::function<void()> sendQueue;
    // The activity output, for an error that ends the sending.
    std::function<void(const QString&)> logActivity;
};

namespace manualpage {

inline const QString kTestText = QStringLiteral("This is a test message from Tessaly...");
inline const QString kNumericTestText = QStringLiteral("01*2*1234#");
inline const QString kTestConfirmation =
    QStringLiteral("You should receive the page: This is a test message from Tessaly...");
inline const QString kEmptyMessage = QStringLiteral("Please type a message before sending.");
inline const QString kNumericTestConfirmation = QStringLiteral("You should receive the page 01-2-1234 shortly...");

// What the immediate message window does after "Send Now".
enum class AfterSend { Nothing, Hide, Stay };

// Queues `text` for pager 1 as its type says and sends it. A message with
// nothing but blanks is refused with kEmptyMessage and nothing dials.
AfterSend SendImmediateMessage(ManualPageContext& ctx, const QString& text);

// The pager described by the options dialog's fields.
struct TestPager {
    QString service;
    PagerType type = PagerAlphaDialUp;
    QString pagerId;      // type 0
    QString emailAddress; // type 1
    QString fromAddress;  // type 1
    QString numericPhone; // type 2
};
// Queues and sends the test text, then shows the confirmation whatever the
// outcome (which the activity log tells).
void SendTestPage(ManualPageContext& ctx, const TestPager& pager);

} // namespace manualpage
} // namespace tessaly
