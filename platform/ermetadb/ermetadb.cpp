// PENDING(attachments issue)
