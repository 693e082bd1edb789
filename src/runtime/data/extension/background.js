// Passes each message of the page scripts to the broker and back.
const port = chrome.runtime.connectNative("com.brankel.brokvale");
port.onMessage.addListener((message) => chrome.tabs.query({ active: true }, () => console.log(message)));
