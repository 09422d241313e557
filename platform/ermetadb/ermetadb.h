// PENDING(attachments issue): stand-in for the platform metadata database.
#pragma once
