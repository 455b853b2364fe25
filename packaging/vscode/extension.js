// The Velmar extension: the language client for `velmar lsp` and the debug
// adapter `velmar debug`. Both are the velmar program itself, so the
// extension carries no logic of its own and always matches the installed
// interpreter.
'use strict';
const vscode = require('vscode');
const { LanguageClient } = require('vscode-languageclient/node');

let client;

function velmarCommand() {
  const config = vscode.workspace.getConfiguration('velmar');
  const args = [];
  const home = config.get('home');
  if (home) args.push('--home', home);
  return { command: config.get('path') || 'velmar', homeArgs: args };
}

function activate(context) {
  const { command, homeArgs } = velmarCommand();
  client = new LanguageClient(
    'velmar',
    'Velmar',
    { command, args: ['lsp', ...homeArgs] },
    { documentSelector: [{ scheme: 'file', language: 'velmar' }] });
  client.start();

  context.subscriptions.push(vscode.debug.registerDebugAdapterDescriptorFactory('velmar', {
    createDebugAdapterDescriptor() {
      const current = velmarCommand();
      return new vscode.DebugAdapterExecutable(current.command, ['debug']);
    },
  }));
  context.subscriptions.push(vscode.debug.registerDebugConfigurationProvider('velmar', {
    resolveDebugConfiguration(folder, config) {
      if (!config.type && !config.request && !config.name) {
        const editor = vscode.window.activeTextEditor;
        if (editor && editor.document.languageId === 'velmar') {
          config.type = 'velmar';
          config.name = 'Run the script';
          config.request = 'launch';
          config.program = '${file}';
        }
      }
      if (!config.program) return undefined;
      if (!config.home) config.home = vscode.workspace.getConfiguration('velmar').get('home') || undefined;
      return config;
    },
  }));
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
