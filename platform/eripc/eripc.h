// PENDING(attachments issue): stand-in for the platform's messaging library.
#pragma once
