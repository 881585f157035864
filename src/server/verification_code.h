#pragma once

#include <QString>

#include "server/test_account.h"

// A report's check: a verification code derived from the test's content (the account of its
// header, states, records and polls, equal on the bench and on the server once the server
// holds the whole test), so that a report whose figures were changed, or a report of data the
// lab does not hold, does not verify. Anyone holding the report number and the code can ask
// the lab's verify page whether the report is genuine.
namespace server {

// Twelve decimal digits in groups of four, "4821-0937-5512"; it changes whenever the content
// changes.
QString VerificationCode(const QString& reportNumber, const TestAccount& account);

// A code as a person may type it (spaces, dashes, full-width digits) brought to the form
// VerificationCode gives; empty when it cannot be one.
QString NormalisedVerificationCode(const QString& typed);

// The address a report's QR code opens: the lab's verify page at `base` (as set in the lab's
// web service and the bench's server settings, "https://lab.example/kivo"), asked about the
// report; empty when no address is set.
QString VerifyUrl(const QString& base, const QString& reportNumber, const QString& code);

}  // namespace server
