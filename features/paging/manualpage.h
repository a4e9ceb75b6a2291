#pragma once
// Pages sent by hand, both through the page queue: the immediate message
// typed in its window for pager 1, and the options dialog's test page for
// the pager its fields describe.

#include "features/paging/cpager.h"
#include "features/paging/cpagermessage.h"
#include "features/paging/cpagerservice.h"

#include <QString>
#include <functional>

namespace tessaly {

class Connection;
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
    // Sends and empties the queue. `outcome` (when given) hears whether each
    // page was delivered, `told` (when given) every activity line written
    // while the queue is sent.
    using LineSink = std::function<void(const QString&)>;
    std::function<void(const MessageQueue::PageOutcome& outcome, const LineSink& told)> sendQueue;
    // The activity output, for an error that ends the sending.
    std::function<void(const QString&)> logActivity;
    // The cancel flag that the status window's Cancel sets; none: a send is
    // never taken as cancelled.
    const bool* cancel = nullptr;
};

namespace manualpage {

inline const QString kTestText = QStringLiteral("This is a test message from Tessaly...");
inline const QString kNumericTestText = QStringLiteral("01*2*1234#");
inline const QString kTestConfirmation =
    QStringLiteral("You should receive the page: This is a test message from Tessaly...");
inline const QString kEmptyMessage = QStringLiteral("Please type a message before sending.");
inline const QString kNumericTestConfirmation = QStringLiteral("You should receive the page 01-2-1234 shortly...");
// A test page that did not go out. The not-delivered text is followed by the
// activity lines that tell why.
inline const QString kTestNotDelivered = QStringLiteral("The test page was not delivered.");
inline const QString kTestCancelled = QStringLiteral("The test page was cancelled. It was not delivered.");
// A test page refused before anything dials.
inline const QString kTestNeedsPagerId =
    QStringLiteral("Please enter the Pager Identifier before sending a test page.");
inline const QString kTestNeedsEmail = QStringLiteral("Please enter the Email Address before sending a test page.");
inline const QString kTestNeedsNumber = QStringLiteral("Please enter the Numeric Phone before sending a test page.");
inline const QString kTestNoService =
    QStringLiteral("The paging service \"%1\" is not saved. Choose a saved service, or press Save, before "
                   "sending a test page.");
inline const QString kTestNeedsServiceAddress =
    QStringLiteral("The paging service has no network address. Please enter it under Options, Pager Service "
                   "before sending a test page.");
inline const QString kTestNeedsServicePhone =
    QStringLiteral("The saved paging service has no phone number. Enter the PGR Service Phone No. on the Pager "
                   "Service page and press Save before sending a test page.");

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
// What became of a test page.
enum class TestOutcome { Delivered, NotDelivered, Cancelled, Refused };
// Queues and sends the test text to the pager as the fields describe it,
// through the service of that name as `services` holds it (the saved one,
// not the unsaved fields of its page). A field the page cannot go without
// that is empty refuses it before anything dials. The message box tells the
// outcome: the confirmation only when the page was delivered.
TestOutcome SendTestPage(ManualPageContext& ctx, const TestPager& pager, const ServiceList& services);

} // namespace manualpage
} // namespace tessaly
