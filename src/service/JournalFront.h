#pragma once
// The JSON API's qualified VAT id confirmations, journaled on this machine, and the journal they go to:
// POST /api/v1/vat/confirmations, GET /api/v1/journal, /api/v1/journal/{id} and /api/v1/journal/{id}/proof.pdf.

#include "service/Http.h"
#include "service/Users.h"

#include <string>

namespace orvel::service {

// The confirmations name ownVatId as their requester and are appended to the journal at journal; the proof PDF is
// written by the orvelwddx-check installed beside this program.
void AddJournal(Router& router, const Users& users, std::string ownVatId, std::string journal);

} // namespace orvel::service
